# Sourced by wine-prime.sh and wine-run.sh.

# The Wine loader for Windows programs of BITS (32 or 64) bits. Debian keeps
# both loaders in /usr/lib/wine; /usr/bin/wine always prefers the 32-bit one.
sx_wine_loader() {
  if [ "$1" = 64 ]; then
    for candidate in /usr/lib/wine/wine64 "$(command -v wine64 2>/dev/null)"; do
      [ -n "$candidate" ] && [ -x "$candidate" ] && { echo "$candidate"; return; }
    done
  else
    [ -x /usr/lib/wine/wine ] && { echo /usr/lib/wine/wine; return; }
  fi
  command -v wine
}

# The interpreter that binfmt_misc runs 32-bit x86 Linux programs through
# (qemu-i386, say), if any. It takes precedence over the kernel's own support,
# and Wine's 32-bit loader cannot set up its address space under qemu's user
# emulation: it stops at "failed to map the shared user data".
sx_i386_binfmt_interpreter() {
  for entry in /proc/sys/fs/binfmt_misc/*; do
    [ -f "$entry" ] || continue
    grep -qx enabled "$entry" 2>/dev/null || continue
    magic=$(sed -n 's/^magic //p' "$entry")
    case "$magic" in
      7f454c4601010100*02000300|7f454c4601010100*02000600)
        sed -n 's/^interpreter //p' "$entry"
        return ;;
    esac
  done
}

# 32 or 64 from the machine field of a PE file's header.
sx_pe_bits() {
  offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$offset" ] || { echo 32; return; }
  machine=$(od -An -tx2 -j$((offset + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
  case "$machine" in
    8664|aa64) echo 64 ;;
    *) echo 32 ;;
  esac
}

: "${WINEDEBUG:=-all}"
: "${WINEDLLOVERRIDES:=mscoree,mshtml=}"
export WINEDEBUG WINEDLLOVERRIDES
# Wine as root (CI) still wants a home directory.
: "${HOME:=/root}"
export HOME
