#!/usr/bin/env python3
"""Checks files of the release: each is a PE file for the build's target
machine (the product is i386; a test build for 64-bit Windows says x86-64)
whose resources hold a version block naming the product version, a
description and the file's own name; with --stripped, none keeps a symbol
table or debugging sections. Prints one line per file (name, size,
description); exits 1 on any fault. --limit NAME=BYTES (repeatable) bounds
the size of the file called NAME: the player came over a modem.

Usage: check_release.py --version 2.2.1 [--machine i386|x86-64] [--stripped]
                        [--limit NAME=BYTES]... FILE...
"""
import os
import struct
import sys

RT_VERSION = 16
MACHINES = {"i386": (0x14C, "32-bit x86"), "x86-64": (0x8664, "64-bit x86-64")}


class PeFile:
    def __init__(self, data):
        if data[:2] != b"MZ":
            raise ValueError("not an MZ file")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE header")
        (self.machine, count, _, self.symbols_at, self.symbol_count,
         optional_size, _) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        table = pe + 24 + optional_size
        self.sections = []
        for i in range(count):
            raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
            name = raw[0].rstrip(b"\0").decode("latin-1")
            if name.startswith("/"):  # long names live in the string table
                strings = self.symbols_at + 18 * self.symbol_count
                start = strings + int(name[1:])
                name = data[start:data.index(b"\0", start)].decode("latin-1")
            self.sections.append((name, raw[2], raw[1], raw[4], raw[3]))  # va, vsize, raw ptr, size
        self.data = data

    def offset(self, rva):
        for _, va, vsize, raw, size in self.sections:
            if va <= rva < va + max(vsize, size):
                return raw + rva - va
        raise ValueError("address 0x%x is in no section" % rva)

    def resource(self, type_id):
        """The data of the first resource of `type_id`, or None."""
        rsrc = [s for s in self.sections if s[0] == ".rsrc"]
        if not rsrc:
            return None
        base = rsrc[0][3]
        entry = self._find(base, base, type_id)
        for _ in range(2):  # name, then language: the first of each
            if entry is None or not entry & 0x80000000:
                return None
            entry = self._find(base, base + (entry & 0x7FFFFFFF), None)
        if entry is None:
            return None
        rva, size = struct.unpack_from("<II", self.data, base + entry)
        start = self.offset(rva)
        return self.data[start:start + size]

    def _find(self, base, directory, wanted):
        named, numbered = struct.unpack_from("<HH", self.data, directory + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", self.data, directory + 16 + 8 * i)
            if wanted is None or (not name & 0x80000000 and name == wanted):
                return target
        return None


def version_block(data, at=0):
    """(key, value, children) of one block of a version resource."""
    length, value_length, is_text = struct.unpack_from("<HHH", data, at)
    end = at + length
    key_end = at + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[at + 6:key_end].decode("utf-16-le")
    cursor = (key_end + 2 + 3) & ~3
    size = value_length * 2 if is_text else value_length
    value = data[cursor:cursor + size]
    cursor = (cursor + size + 3) & ~3
    children = []
    while cursor < end:
        child = version_block(data, cursor)
        children.append(child[:3])
        cursor = (cursor + child[3] + 3) & ~3
    return key, value, children, length


def strings_of(block):
    """Every String of the StringFileInfo tables, by name."""
    found = {}
    for key, _, tables in block[2]:
        if key != "StringFileInfo":
            continue
        for _, _, strings in tables:
            for name, value, _ in strings:
                found[name] = value.decode("utf-16-le").rstrip("\0")
    return found


def check(path, version, machine, stripped):
    with open(path, "rb") as f:
        pe = PeFile(f.read())
    faults = []
    code, name = MACHINES[machine]
    if pe.machine != code:
        faults.append("not a %s file (machine 0x%x)" % (name, pe.machine))
    data = pe.resource(RT_VERSION)
    strings = {}
    if data is None:
        faults.append("no version resource")
    else:
        block = version_block(data)
        fixed = struct.unpack_from("<13I", block[1]) if len(block[1]) >= 52 else None
        if block[0] != "VS_VERSION_INFO" or not fixed or fixed[0] != 0xFEEF04BD:
            faults.append("malformed version resource")
        else:
            numbers = [int(n) for n in (version + ".0").split(".")[:4]]
            product = ((numbers[0] << 16) | numbers[1], (numbers[2] << 16) | numbers[3])
            if (fixed[4], fixed[5]) != product:
                faults.append("fixed product version is not " + version)
        strings = strings_of(block)
        if strings.get("ProductVersion") != version:
            faults.append("ProductVersion is %r" % strings.get("ProductVersion"))
        if not strings.get("FileDescription"):
            faults.append("no FileDescription")
        if strings.get("OriginalFilename", "").lower() != os.path.basename(path).lower():
            faults.append("OriginalFilename is %r" % strings.get("OriginalFilename"))
    if stripped:
        if pe.symbol_count:
            faults.append("keeps %d symbols" % pe.symbol_count)
        debug = [s[0] for s in pe.sections if s[0].startswith(".debug")]
        if debug:
            faults.append("keeps " + " ".join(debug))
    return strings.get("FileDescription", ""), faults


def parse_limit(text, limits):
    """NAME=BYTES into limits (names without regard to case); False if malformed."""
    name, _, size = (text or "").partition("=")
    if not name or not size.isdigit():
        return False
    limits[name.lower()] = int(size)
    return True


def main(argv):
    version, machine, stripped, files, limits = None, "i386", False, [], {}
    args = iter(argv)
    for arg in args:
        if arg == "--version":
            version = next(args, None)
        elif arg == "--machine":
            machine = next(args, None)
        elif arg == "--stripped":
            stripped = True
        elif arg == "--limit":
            if not parse_limit(next(args, None), limits):
                print(__doc__, file=sys.stderr)
                return 2
        else:
            files.append(arg)
    if not version or not files or machine not in MACHINES:
        print(__doc__, file=sys.stderr)
        return 2
    failed = 0
    for path in files:
        try:
            description, faults = check(path, version, machine, stripped)
        except (OSError, ValueError, struct.error, UnicodeDecodeError) as error:
            description, faults = "", [str(error)]
        size = os.path.getsize(path) if os.path.exists(path) else 0
        limit = limits.get(os.path.basename(path).lower())
        if limit is not None and size > limit:
            faults.append("%d bytes, more than its limit of %d" % (size, limit))
        print("%-18s %8d  %s" % (os.path.basename(path), size, description))
        for fault in faults:
            print("  FAULT: " + fault)
        failed += bool(faults)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
