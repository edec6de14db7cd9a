#!/usr/bin/env python3
"""A small mutation check: do the tests notice when the code is wrong?

A fixed random sample (fixed seed) of simple mutants of the component
services, the launcher and the ruvane core (nurbs/ without tessellation/):
  cmp    a comparison flipped (< >= , > <= , == !=),
  drop   one statement removed,
  const  an integer constant changed by one.
Each mutant is applied to a snapshot of a commit (never to the working
tree), the test programs that exercise its folder are rebuilt (native build,
through ccache when present) and run with a timeout; the mutant is killed
a mutant that does not compile is no mutant at all and is replaced by the
next one of the sample; one that compiles is killed when a test fails or
times out, otherwise it survived.

  mutation.py sample [--count N] [--seed S] > mutants.json
      picks the sample from the working tree's sources.
  mutation.py run mutants.json [--rev REV]... [--results out.json]
      applies each mutant to a snapshot of each REV (default HEAD), so that
      two suites meet exactly the same mutants. A mutant is found by its
      line's text, so a sample taken before a change still applies after it
      when its line survived; a mutant whose line is gone is reported as
      such.
"""
import argparse
import json
import os
import random
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

# Folders sampled, and the ctests that exercise each of them (the folder's
# own suites: every extra program is one more link per mutant).
SUITES = {
    "components": ["components_test"],
    "launcher": ["launcher_test", "launcher_road_test"],
    "nurbs": ["ruvane_core_test"],
}
# Test support, tessellation (another suite's) and the Windows-only entry.
SKIP_FILES = re.compile(r"(_test\.cpp$|/testing/|^nurbs/tessellation/|_winmain\.cpp$)")

COMPARISONS = {" < ": " >= ", " >= ": " < ", " > ": " <= ", " <= ": " > ",
               " == ": " != ", " != ": " == "}
STATEMENT = re.compile(r"^\s+(?!return\b|case\b|default\b|break\b|continue\b|goto\b|"
                       r"using\b|typedef\b|static_assert\b)[A-Za-z_*(+\-][^;]*;\s*$")
NUMBER = re.compile(r"(?<![\w.])(\d+)(?![\w.'])")
STRING = re.compile(r'"(?:[^"\\]|\\.)*"|\'(?:[^\'\\]|\\.)*\'')


def masked(line):
    """The line with string/char literals and a trailing comment blanked out."""
    code = STRING.sub(lambda m: " " * len(m.group(0)), line)
    cut = code.find("//")
    if cut >= 0:
        code = code[:cut] + " " * (len(code) - cut)
    return code


def source_files(root):
    out = subprocess.run(["git", "-C", root, "ls-files", *SUITES], check=True,
                         capture_output=True, text=True).stdout
    return [p for p in out.splitlines() if p.endswith(".cpp") and not SKIP_FILES.search(p)]


def candidates_of(path, lines):
    found = []
    in_block_comment = False
    for number, line in enumerate(lines):
        stripped = line.strip()
        if in_block_comment:
            in_block_comment = "*/" not in stripped
            continue
        if stripped.startswith("/*"):
            in_block_comment = "*/" not in stripped
            continue
        if not stripped or stripped.startswith(("//", "#")):
            continue
        code = masked(line)
        for old, new in COMPARISONS.items():
            start = code.find(old)
            while start >= 0:
                found.append(("cmp", number, line[:start] + new + line[start + len(old):]))
                start = code.find(old, start + 1)
        previous = lines[number - 1].rstrip() if number else ""
        if STATEMENT.match(code) and previous.endswith((";", "{", "}", ":")):
            indent = line[: len(line) - len(line.lstrip())]
            found.append(("drop", number, indent + ";  // dropped\n"))
        for match in NUMBER.finditer(code):
            value = int(match.group(1))
            for changed in ([value + 1, value - 1] if value > 0 else [value + 1]):
                found.append(("const", number,
                              line[: match.start()] + str(changed) + line[match.end():]))
    return [{"file": path, "kind": kind, "line": number + 1, "before": lines[number],
             "after": after} for kind, number, after in found]


def sample(args):
    # An equal share per folder, so that the big numerical core does not
    # crowd out the smaller ones; then one shuffled order.
    rng = random.Random(args.seed)
    pools = {suite: [] for suite in SUITES}
    for path in source_files(ROOT):
        with open(os.path.join(ROOT, path), encoding="utf-8") as f:
            pools[path.split("/")[0]] += candidates_of(path, f.readlines())
    chosen = []
    for suite, pool in pools.items():
        rng.shuffle(pool)
        # Twice the share: some do not compile and are replaced by the next.
        chosen += pool[: 2 * -(-args.count // len(SUITES))]
    rng.shuffle(chosen)
    json.dump({"seed": args.seed, "wanted": args.count,
               "pool": {suite: len(pool) for suite, pool in pools.items()},
               "mutants": chosen}, sys.stdout, indent=1)
    print()


def sh(command, cwd, timeout, log, env=None, preexec_fn=None):
    # In a process group of its own, removed whole at the end: a ctest killed
    # at the timeout leaves its test running (a looping mutant kept a core
    # busy for the rest of a run that way).
    process = subprocess.Popen(command, cwd=cwd, stdout=log, stderr=subprocess.STDOUT, env=env,
                               preexec_fn=preexec_fn, start_new_session=True)
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        return "timeout"
    finally:
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        process.wait()


def snapshot(rev, work, name):
    """The tree of `rev` in work/name, kept (with its build) while the
    revision is the same."""
    source = os.path.join(work, name)
    commit = subprocess.run(["git", "-C", ROOT, "rev-parse", rev], check=True,
                            capture_output=True, text=True).stdout.strip()
    marker = os.path.join(source, ".mutation-rev")
    if os.path.isfile(marker) and open(marker, encoding="utf-8").read() == commit:
        return source, commit
    if os.path.isdir(source):
        shutil.rmtree(source)
    os.makedirs(source)
    archive = subprocess.run(["git", "-C", ROOT, "archive", commit], check=True,
                             capture_output=True).stdout
    subprocess.run(["tar", "-x", "-C", source], input=archive, check=True)
    with open(marker, "w", encoding="utf-8") as f:
        f.write(commit)
    return source, commit


def locate(text, mutant):
    """Line index of the mutant's line: its recorded line if unchanged, else
    the nearest line with the same text."""
    index = mutant["line"] - 1
    if index < len(text) and text[index] == mutant["before"]:
        return index
    hits = [i for i, line in enumerate(text) if line == mutant["before"]]
    return min(hits, key=lambda i: abs(i - index)) if hits else None


def prepare(rev, work, name, test_timeout, log, log_path):
    source, commit = snapshot(rev, work, name)
    # Two levels below the sources, like build/native: with ccache's base_dir
    # the compile lines match an ordinary build's and its objects are reused.
    build = os.path.join(source, "build", "mutation")
    launcher = ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"] \
        if shutil.which("ccache") else []
    if sh(["cmake", "-S", source, "-B", build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
           "-DSX_BENCH=OFF", *launcher], source, 600, log) != 0:
        sys.exit(f"configure of {rev} failed, see {log_path}")
    all_tests = sorted({t for tests in SUITES.values() for t in tests})
    if sh(["cmake", "--build", build, "-j2", "--target", *all_tests], source, 7200, log) != 0:
        sys.exit(f"{rev} does not build unmutated, see {log_path}")
    for suite, tests in SUITES.items():
        if run_tests(build, tests, test_timeout, log) != 0:
            sys.exit(f"the {suite} tests of {rev} fail without any mutant, see {log_path}")
    return {"rev": rev, "commit": commit, "source": source, "build": build}


def run(args):
    """Each mutant is tried on every revision given, so that suites can be
    compared on exactly the same mutants; a mutant counts once it compiled
    in all of them."""
    with open(args.mutants, encoding="utf-8") as f:
        plan = json.load(f)
    if args.killed_in:
        # Only the mutants an earlier run killed: do the new suites still?
        with open(args.killed_in, encoding="utf-8") as f:
            earlier = json.load(f)["results"]
        plan["mutants"] = [{k: v for k, v in r.items() if k != "outcomes"}
                           for r in earlier if r["outcomes"][0] == "killed"]
        plan["wanted"] = len(plan["mutants"])
    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    os.environ.setdefault("CCACHE_BASEDIR", os.path.dirname(ROOT))
    os.environ.setdefault("CCACHE_NOHASHDIR", "1")
    log_path = os.path.join(work, "mutation.log")
    log = open(log_path, "a", encoding="utf-8")
    revs = args.rev or ["HEAD"]
    names = args.names.split(",") if args.names else \
        ["src" if i == 0 else f"src{i + 1}" for i in range(len(revs))]
    trees = [prepare(rev, work, name, args.test_timeout, log, log_path)
             for rev, name in zip(revs, names)]

    results = []
    counted = 0
    for mutant in plan["mutants"]:
        if counted >= plan["wanted"]:
            break
        tests = SUITES[mutant["file"].split("/")[0]]
        outcomes = []
        for tree in trees:
            if args.only_killed and outcomes and outcomes[0] != "killed":
                # A comparison of kills needs only what the first suite
                # killed; the later ones are not tried on the rest.
                outcomes.append("not-run")
                continue
            outcomes.append(try_mutant(os.path.join(tree["source"], mutant["file"]), mutant,
                                       tree["build"], tests, args, log))
        if all(o in ("killed", "survived", "not-run") for o in outcomes) and \
                outcomes[0] in ("killed", "survived"):
            counted += 1
        results.append(dict(mutant, outcomes=outcomes))
        print(f"{len(results):4} {' '.join(f'{o:9}' for o in outcomes)} {mutant['kind']:5} "
              f"{mutant['file']}:{mutant['line']}", flush=True)
        # Written after every mutant: a run cut short still tells its figures.
        summary = summarise(trees, results)
        with open(args.results, "w", encoding="utf-8") as f:
            json.dump({"trees": trees, "summary": summary, "results": results}, f, indent=1)
    print("\n".join(summarise(trees, results)))


def summarise(trees, results):
    both = [r for r in results
            if all(o in ("killed", "survived", "not-run") for o in r["outcomes"])
            and r["outcomes"][0] != "not-run"]
    lines = [f"mutants tested on every revision: {len(both)} "
             f"(skipped: {len(results) - len(both)} that did not compile or whose line is gone)"]
    for i, tree in enumerate(trees):
        killed = sum(r["outcomes"][i] == "killed" for r in both)
        survived = sum(r["outcomes"][i] == "survived" for r in both)
        not_run = len(both) - killed - survived
        lines.append(f"{tree['rev']} ({tree['commit'][:10]}): {killed} killed, {survived} survived"
                     + (f", {not_run} not tried (survived the first suite)" if not_run else ""))
    if len(trees) == 2:
        lost = [r for r in both if r["outcomes"] == ["killed", "survived"]]
        gained = [r for r in both if r["outcomes"] == ["survived", "killed"]]
        lines.append(f"killed only by {trees[0]['rev']}: {len(lost)}; "
                     f"only by {trees[1]['rev']}: {len(gained)}")
        lines += [f"  lost: {r['kind']} {r['file']}:{r['line']}" for r in lost]
    return lines


def try_mutant(path, mutant, build, tests, args, log):
    with open(path, encoding="utf-8") as f:
        text = f.readlines()
    index = locate(text, mutant)
    if index is None:
        return "gone"
    original = list(text)
    text[index] = mutant["after"]
    try:
        with open(path, "w", encoding="utf-8") as f:
            f.writelines(text)
        log.write(f"\n### {mutant['kind']} {path}:{index + 1}\n-{mutant['before']}"
                  f"+{mutant['after']}")
        log.flush()
        built = sh(["cmake", "--build", build, "-j2", "--target", *tests], build,
                   args.build_timeout, log)
        if built != 0:
            return "no-build"
        return "survived" if run_tests(build, tests, args.test_timeout, log) == 0 else "killed"
    finally:
        with open(path, "w", encoding="utf-8") as f:
            f.writelines(original)
        # The restored file must look changed to make, or the mutant's
        # objects would stay in the next build.
        os.utime(path)


# A mutant can turn a loop endless while it writes: a death test's captured
# stderr then grows in the temp folder until the timeout, tens of gigabytes.
# Each run gets its own temp folder, removed afterwards, and a cap on the size
# of any file it writes (going over it fails the run, which kills the mutant).
FILE_SIZE_CAP = 256 << 20


def cap_file_size():
    resource.setrlimit(resource.RLIMIT_FSIZE, (FILE_SIZE_CAP, FILE_SIZE_CAP))


def run_tests(build, tests, timeout, log):
    pattern = "^(" + "|".join(tests) + ")$"
    scratch = tempfile.mkdtemp(prefix="mutant-tmp-", dir=os.path.dirname(build))
    env = dict(os.environ, TMPDIR=scratch, TEST_TMPDIR=scratch)
    try:
        return sh(["ctest", "--test-dir", build, "-R", pattern, "--timeout", str(timeout),
                   "--stop-on-failure", "-j2"], build, timeout * len(tests) + 60, log,
                  env=env, preexec_fn=cap_file_size)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    pick = commands.add_parser("sample")
    pick.add_argument("--count", type=int, default=100)
    pick.add_argument("--seed", type=int, default=20261207)
    go = commands.add_parser("run")
    go.add_argument("mutants")
    go.add_argument("--rev", action="append",
                    help="revision to test (repeat to compare suites; default HEAD)")
    go.add_argument("--work", default=os.path.join(ROOT, "build", "mutation"))
    go.add_argument("--results", default="mutation-results.json")
    go.add_argument("--names", help="folders of the trees under --work, comma-separated "
                    "(default src, src2, ...); a tree is kept while its revision is the same")
    go.add_argument("--killed-in", metavar="RESULTS",
                    help="try only the mutants the first revision of RESULTS killed")
    go.add_argument("--only-killed", action="store_true",
                    help="try later revisions only on mutants the first one killed")
    go.add_argument("--build-timeout", type=int, default=600)
    go.add_argument("--test-timeout", type=int, default=180)
    args = parser.parse_args()
    sample(args) if args.command == "sample" else run(args)


if __name__ == "__main__":
    main()
