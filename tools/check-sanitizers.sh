#!/bin/sh
# Builds the project with a sanitizer in a build folder of its own and runs the tests under it:
#   asan  AddressSanitizer, UBSan and LeakSanitizer over the whole ctest suite (leaks inside
#         JUCE's bundled LV2 libraries are suppressed by tools/sanitizers/lsan.supp).
#   tsan  ThreadSanitizer over the tests labelled "stress" (tests/CMakeLists.txt, STRESS).
# Any sanitizer report fails the test it happens in; the script exits non-zero on any failure
# and ends with a one-line summary.
set -eu

usage() {
    cat >&2 <<EOF
usage: $0 asan|tsan

  asan   -DMOSSLIGHT_ASAN=ON in \$ASAN_BUILD_DIR (default build-asan), the whole ctest suite
  tsan   -DMOSSLIGHT_TSAN=ON in \$TSAN_BUILD_DIR (default build-tsan), ctest -L stress

Options from the caller's ASAN_OPTIONS, UBSAN_OPTIONS, LSAN_OPTIONS and TSAN_OPTIONS are
appended to the script's own and win over them.

LSAN_COUNT_SUPPRESSED=1 (asan): AddressSanitizer and LeakSanitizer write to files in
\$build/sanitizer-logs instead of the tests' output (tools that must print one line stay
one line), the leaks that lsan.supp hid are totalled per suppression, and any report that
was not suppressed is printed at the end.
EOF
    exit 2
}

[ $# -eq 1 ] || usage
mode=$1
repo=$(cd "$(dirname "$0")/.." && pwd)

# The caller's options come last: a sanitizer takes the last value given for a flag.
with() { # with OURS CALLERS
    if [ -n "$2" ]; then echo "$1:$2"; else echo "$1"; fi
}

case $mode in
asan)
    build=${ASAN_BUILD_DIR:-$repo/build-asan}
    option=-DMOSSLIGHT_ASAN=ON
    target=all
    label=""
    ASAN_OPTIONS=$(with "detect_leaks=1:check_initialization_order=1:detect_stack_use_after_return=1" "${ASAN_OPTIONS:-}")
    UBSAN_OPTIONS=$(with "halt_on_error=1:print_stacktrace=1" "${UBSAN_OPTIONS:-}")
    lsan="suppressions=$repo/tools/sanitizers/lsan.supp"
    logs=""
    if [ "${LSAN_COUNT_SUPPRESSED:-0}" = 1 ]; then
        logs=$build/sanitizer-logs
        lsan="$lsan:print_suppressions=1:log_path=$logs/report"
    else
        lsan="$lsan:print_suppressions=0"
    fi
    LSAN_OPTIONS=$(with "$lsan" "${LSAN_OPTIONS:-}")
    export ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS
    ;;
tsan)
    build=${TSAN_BUILD_DIR:-$repo/build-tsan}
    option=-DMOSSLIGHT_TSAN=ON
    target=stress_tests
    label=stress
    logs=""
    TSAN_OPTIONS=$(with "halt_on_error=1:second_deadlock_stack=1" "${TSAN_OPTIONS:-}")
    export TSAN_OPTIONS
    ;;
-h | --help | *) usage ;;
esac

start=$(date +%s)
# Build steps run our binaries too (the LV2 manifest helper): their reports count as well.
[ -z "$logs" ] || { rm -rf "$logs" && mkdir -p "$logs"; }
echo "== $mode: configuring $build"
given_up() {
    echo "$mode: 0 passed, 0 failed: $1 failed after $(($(date +%s) - start)) s" >&2
    exit 1
}
nice -n 10 cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "$option" || given_up configuring
echo "== $mode: building $target"
nice -n 10 cmake --build "$build" --parallel 2 --target "$target" || given_up building
built=$(date +%s)

echo "== $mode: testing"
log=$build/ctest-$mode.log
set -- --test-dir "$build" --output-on-failure --parallel 2 --output-log "$log"
[ -z "$label" ] || set -- "$@" -L "$label"
status=0
nice -n 10 ctest "$@" || status=$?
finished=$(date +%s)

# Leaks that the suppressions hid, totalled over every process, and what was not hidden.
if [ -n "$logs" ]; then
    echo "== leaks suppressed (reports, bytes, suppression):"
    cat "$logs"/report.* 2>/dev/null |
        awk '/^Suppressions used:/ {on = 1; next}
             on && /^ *count/ {next}
             on && NF == 3 && $1 ~ /^[0-9]+$/ {n[$3] += $1; b[$3] += $2; next}
             {on = 0}
             END {for (s in n) printf "  %6d %10d %s\n", n[s], b[s], s}' | sort -k3
    for report in "$logs"/report.*; do
        if [ -f "$report" ] && grep -q 'ERROR: ' "$report"; then
            echo "== not suppressed: $report"
            cat "$report"
            status=1
        fi
    done
fi

# ctest's own count: "NN% tests passed, F tests failed out of T".
line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n1 || true)
total=$(echo "$line" | sed -n 's/.*out of \([0-9]*\).*/\1/p')
failed=$(echo "$line" | sed -n 's/.* \([0-9]*\) tests\{0,1\} failed.*/\1/p')
if [ -z "$total" ]; then
    total=0
    failed=0
    [ "$status" -ne 0 ] || status=1
fi
[ "$total" -gt 0 ] || status=1
passed=$((total - failed))
echo "$mode: $passed passed, $failed failed in $((finished - start)) s (build $((built - start)) s, tests $((finished - built)) s)"
exit "$status"
