#!/usr/bin/env bash
# Every test of the project, from a fresh Debian 12 machine:
#   1. the packages (scripts/install-deps.sh),
#   2. native: build and ctest,
#   3. native-asan: the same under AddressSanitizer (leaks included) and
#      UndefinedBehaviorSanitizer,
#   4. fp-variants: the ruvane suites built natively with x87 arithmetic
#      (-mfpmath=387) and, where the processor has FMA, with fused
#      multiply-add contraction: decisions that hang on rounding show up
#      here even where 32-bit programs cannot run,
#   5. win32: the product build; its tests under Wine, inside xvfb-run; then
#      the release package (scripts/package.sh) and the road under Wine on it
#      (road/road-wine.sh),
#   6. win64: the Windows-side tests built for 64-bit Windows and run under
#      64-bit Wine, when this machine cannot run the 32-bit ones (a kernel
#      without 32-bit program support),
#   7. fuzz: each libFuzzer target for a short while.
# Every stage runs even after another failed; the exit status is non-zero
# when any failed. Environment:
#   SX_BUILD_ROOT     build folders (default: build, as the presets)
#   SX_WIN64_TESTS    auto (default), 1 (always) or 0 (never)
#   SX_WIN64_TARGETS  test programs of the win64 stage (default: all of them)
#   SX_FUZZ_SECONDS   seconds per fuzz target (default 20; 0 skips the stage)
#   SX_JOBS           parallel build and test jobs (default 2)
#   SX_STAGES         the stages to run (default: native native-asan fp-variants win32 win64
#                     fuzz)
set -uo pipefail

cd "$(dirname "$0")/.."
source_dir=$PWD
build_root=${SX_BUILD_ROOT:-build}
jobs=${SX_JOBS:-2}
fuzz_seconds=${SX_FUZZ_SECONDS:-20}
win64_mode=${SX_WIN64_TESTS:-auto}
win64_targets=${SX_WIN64_TARGETS:-all}
stages=" ${SX_STAGES:-native native-asan fp-variants win32 win64 fuzz} "
want() { [[ "$stages" == *" $1 "* ]]; }
# Wine wants a home, and CI may come without one.
export HOME=${HOME:-/root}
[ -d "$HOME" ] || mkdir -p "$HOME"

summary=()
failed_stages=0
total_passed=0
total_failed=0
total_skipped=0
run_start=$SECONDS

stage_result() {  # name, status, seconds, note
  local word=ok
  [ "$2" -eq 0 ] || { word=FAILED; failed_stages=$((failed_stages + 1)); }
  summary+=("$(printf '%-12s %-7s %5ss  %s' "$1" "$word" "$3" "$4")")
  echo "=== $1: $word in $3 s${4:+ ($4)}"
}

# Runs ctest (through the words of $launcher, if any) and adds its counts to
# the totals.
launcher=()
run_ctest() {  # log file, ctest arguments...
  local log=$1
  shift
  "${launcher[@]}" ctest "$@" </dev/null 2>&1 | tee "$log"
  local status=${PIPESTATUS[0]}
  local total failed skipped
  total=$(sed -n 's/.*tests passed, [0-9]* tests\{0,1\} failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
  failed=$(sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of.*/\1/p' "$log" | tail -1)
  skipped=$(grep -c '(Skipped)$' "$log")
  if [ -n "$total" ]; then
    total_passed=$((total_passed + total - failed - skipped))
    total_failed=$((total_failed + failed))
    total_skipped=$((total_skipped + skipped))
  fi
  if [ -z "$total" ] || [ "$total" -eq 0 ]; then
    echo "ctest ran no test" >&2
    return 1
  fi
  return "$status"
}

# "win98 nt40 win2k passed" style: the runs of the platform-id branches under
# each Windows version Wine was set to, from a ctest log.
version_runs() {  # log file
  local passed failed
  passed=$(sed -n 's/.*Test *#[0-9]*: windows_versions_\([a-z0-9]*\) .*Passed.*/\1/p' "$1" | tr '\n' ' ')
  failed=$(sed -n 's/.*Test *#[0-9]*: windows_versions_\([a-z0-9]*\) .*\*\*\*.*/\1/p' "$1" | tr '\n' ' ')
  if [ -z "$passed$failed" ]; then
    echo "Windows versions: none run"
  else
    echo "Windows versions: ${passed:+${passed}passed}${failed:+; ${failed}FAILED}"
  fi
}

configure_build() {  # build dir, cmake configure arguments...
  local dir=$1
  shift
  # -k: one broken target does not hide the state of the others.
  cmake -S "$source_dir" -B "$dir" "$@" && cmake --build "$dir" -j"$jobs" -- -k
}

echo "=== packages"
start=$SECONDS
bash scripts/install-deps.sh </dev/null
status=$?
stage_result packages $status $((SECONDS - start)) ""
if [ $status -ne 0 ]; then
  printf '%s\n' "${summary[@]}"
  exit 1
fi
mkdir -p "$build_root"
logs=$build_root/test-logs
mkdir -p "$logs"

# -- native
if want native; then
echo "=== native"
start=$SECONDS
note=""
if configure_build "$build_root/native" --preset native; then
  run_ctest "$logs/native.log" --test-dir "$build_root/native" -j"$jobs" --output-on-failure
  status=$?
else
  status=1
  note="build failed"
fi
stage_result native $status $((SECONDS - start)) "$note"
fi

# -- native under the sanitizers
if want native-asan; then
echo "=== native-asan"
start=$SECONDS
note=""
if configure_build "$build_root/native-asan" --preset native-asan; then
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_ctest "$logs/native-asan.log" --test-dir "$build_root/native-asan" -j"$jobs" \
      --output-on-failure
  status=$?
else
  status=1
  note="build failed"
fi
stage_result native-asan $status $((SECONDS - start)) "$note"
fi

# -- the ruvane suites under other floating-point code generation
if want fp-variants; then
echo "=== fp-variants"
start=$SECONDS
note=""
status=0
variants=("x87:-mfpmath=387")
if grep -qw fma /proc/cpuinfo; then
  variants+=("fma:-mfma -ffp-contract=fast")
else
  note="no FMA on this processor: fma variant not run; "
fi
ruvane_targets="ruvane_core_test ruvane_tess_test ruvane_tess_tool_test ruvane_tess ruvane_iges_test
  ruvane_model ruvane_model_test"
for variant in "${variants[@]}"; do
  name=${variant%%:*}
  flags=${variant#*:}
  dir=$build_root/native-$name
  echo "--- $name ($flags)"
  if cmake -S "$source_dir" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSX_BENCH=OFF \
       -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" &&
     cmake --build "$dir" -j"$jobs" --target $ruvane_targets; then
    run_ctest "$logs/native-$name.log" --test-dir "$dir" -R '^ruvane_' -j"$jobs" \
      --output-on-failure || { status=1; note="$note$name failed; "; }
  else
    status=1
    note="$note$name build failed; "
  fi
done
stage_result fp-variants $status $((SECONDS - start)) "${note}${#variants[@]} variants"
fi

# -- win32, the product; its tests under Wine with a display
win32_unusable=""
if want win32; then
echo "=== win32"
start=$SECONDS
note=""
if configure_build "$build_root/win32" --preset win32; then
  launcher=(xvfb-run -a -s "-screen 0 1024x768x24")
  # One at a time: under Wine every test program shares the prefix's one
  # registry, and several of them point the component directories at their
  # own folders; two at once read each other's values.
  run_ctest "$logs/win32.log" --test-dir "$build_root/win32" -j1 --output-on-failure
  status=$?
  launcher=()
  if [ -f "$build_root/win32/wineprefix/.sx-unusable" ]; then
    win32_unusable=$(head -1 "$build_root/win32/wineprefix/.sx-unusable")
    note="built; Wine tests SKIPPED: $win32_unusable"
  else
    versions=$(version_runs "$logs/win32.log")
    # The release package, and the typical road on it in a clean prefix.
    echo "--- package and the road under Wine"
    if SX_BUILD_ROOT=$build_root bash scripts/package.sh "$build_root/dist" \
         >"$logs/package.log" 2>&1 &&
       bash road/road-wine.sh "$build_root/Stellarix-Player-Setup.exe" "$build_root/win32/sxopen.exe" "$logs/road" \
         "$(ls "$build_root/native/tools/sxadserver/sxadserver" 2>/dev/null)" </dev/null 2>&1 | tee "$logs/road-wine.log"; then
      note="$versions (i686); road under Wine ok"
    else
      status=1
      note="$versions (i686); package or road under Wine FAILED (see $logs/package.log, $logs/road-wine.log)"
    fi
  fi
else
  status=1
  note="build failed"
fi
stage_result win32 $status $((SECONDS - start)) "$note"
fi

# -- win64: the Windows side for real where 32-bit Wine cannot run
if want win64 && { [ "$win64_mode" = 1 ] || { [ "$win64_mode" = auto ] && [ -n "$win32_unusable" ]; }; }; then
  echo "=== win64 (${win64_targets})"
  start=$SECONDS
  note=""
  dir=$build_root/win64
  pattern="."
  [ "$win64_targets" = all ] || pattern="^($(echo "$win64_targets" | tr ' ' '|'))\$"
  if cmake -S "$source_dir" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/toolchain-mingw-x86_64.cmake" \
       -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSX_BENCH=OFF &&
     cmake --build "$dir" -j"$jobs" --target $win64_targets -- -k; then
    launcher=(xvfb-run -a -s "-screen 0 1024x768x24")
    run_ctest "$logs/win64.log" --test-dir "$dir" -R "$pattern" -j1 --output-on-failure
    status=$?
    launcher=()
    # Where 32-bit Wine cannot run, these are the only runs under the older
    # Windows versions, and they are of the x86-64 build.
    note="$(version_runs "$logs/win64.log") (x86-64 build under 64-bit Wine)"
    if [ -f "$dir/wineprefix/.sx-unusable" ]; then
      status=1
      note="64-bit Wine cannot run either: $(head -1 "$dir/wineprefix/.sx-unusable")"
    fi
  else
    status=1
    note="build failed"
  fi
  stage_result win64 $status $((SECONDS - start)) "$note"
fi

# -- fuzz smoke
if want fuzz && [ -f fuzz/CMakeLists.txt ] && [ "$fuzz_seconds" != 0 ]; then
  echo "=== fuzz (${fuzz_seconds} s per target)"
  start=$SECONDS
  note=""
  status=0
  dir=$build_root/fuzz
  # Only the fuzz programs: the rest of the tree is built and tested above.
  if cmake -S "$source_dir" -B "$dir" --preset fuzz &&
     fuzz_targets=$(cmake --build "$dir" --target help | sed -n 's/^\.\.\. \([A-Za-z0-9_]*_fuzz\)$/\1/p') &&
     [ -n "$fuzz_targets" ] &&
     cmake --build "$dir" -j"$jobs" --target $fuzz_targets; then
    count=0
    for target in $fuzz_targets; do
      fuzzer=$(find "$dir" -type f -name "$target" -perm -u+x | head -1)
      [ -n "$fuzzer" ] || { status=1; note="$note $target not found"; continue; }
      name=$(basename "$fuzzer")
      seeds=fuzz/corpus/${name%_fuzz}
      work=$(mktemp -d)
      echo "--- $name"
      # New inputs go to a scratch folder; the checked-in seeds are only read.
      # A target that reaches the emulated Windows gets a throwaway one, never
      # the user's own.
      if ! SX_WINROOT="$work-winroot" "$fuzzer" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 -timeout=10 \
             -print_final_stats=1 -artifact_prefix="$logs/$name-" \
             "$work" $( [ -d "$seeds" ] && echo "$seeds" ) </dev/null > "$logs/$name.log" 2>&1; then
        status=1
        note="$note $name failed (see $logs/$name.log)"
        tail -40 "$logs/$name.log"
      else
        grep -E 'stat::(number_of_executed_units|new_units_added)' "$logs/$name.log" | sed "s/^/$name: /"
      fi
      rm -rf "$work" "$work-winroot"
      count=$((count + 1))
    done
    [ $count -gt 0 ] || { status=1; note="no fuzz target built"; }
    [ -n "$note" ] || note="$count targets"
  else
    status=1
    note="build failed"
  fi
  stage_result fuzz $status $((SECONDS - start)) "$note"
fi

echo
echo "=== summary ($(( SECONDS - run_start )) s in all)"
printf '%s\n' "${summary[@]}"
echo "ctest: $total_passed passed, $total_failed failed, $total_skipped skipped"
python3 scripts/code_ratio.py || echo "test-to-code ratio: not counted"
[ $failed_stages -eq 0 ]
