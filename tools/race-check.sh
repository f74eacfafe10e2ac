#!/usr/bin/env bash
# Looks for data races with ThreadSanitizer.
#
#   tools/race-check.sh [--build DIR] [-- CTEST_ARGS...]   the test suite
#   tools/race-check.sh [--build DIR] --live SECONDS       the program under load
#
# Builds with -DZEV_TSAN=ON into DIR (default build-tsan), checks that the
# preload tools/tsan_qt_sync.cpp shows Qt's locks and queued calls on this
# machine's Qt and still shows a real race, then runs the suite (or the
# program on the simulated board, driven by tools/race-load.py), each in a
# network namespace of its own, and sums up the reports with
# tools/race-summary.py. Reports do not fail a test; the script fails when
# the build, the self-check or the run does, and when a lock-order inversion
# is in our code (not only among the mutexes of Qt or the system).
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
src="$(pwd)"
build=build-tsan
live=""
jobs="${JOBS:-4}"
ctest_args=()
while [ $# -gt 0 ]; do
    case "$1" in
    --build) build="$2"; shift 2 ;;
    --live) live="$2"; shift 2 ;;
    --) shift; ctest_args=("$@"); break ;;
    *) echo "usage: $0 [--build DIR] [--live SECONDS] [-- CTEST_ARGS...]" >&2; exit 2 ;;
    esac
done
build="$(realpath -m "$build")"
tools/check-build-folders.sh race-check tools/race-check.sh "$build" || exit 1

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEV_TSAN=ON -DZEV_BUILD_BENCH=OFF >/dev/null || exit 1
cmake --build "$build" -j"$jobs" >"$build/race-build.log" 2>&1 ||
    { tail -30 "$build/race-build.log"; echo "race-check: the build failed" >&2; exit 1; }

preload="$build/tools/libzev_tsan_qt_sync.so"
options="suppressions=$src/tools/tsan.supp:history_size=5:report_signal_unsafe=0:second_deadlock_stack=1:exitcode=0:print_suppressions=1:log_exe_name=1"

# The preload must hide every hand-over of the check program, and without
# it the QMutex case must be reported: else the wrappers miss the calls. The
# unguarded case is a real race, reported with the preload as without it,
# and the order case two QMutexes taken in both orders, a lock-order cycle
# that only the preload lets the sanitizer see: else the preload hides what
# it should show.
self_check() {
    local dir="$build/tsan-self-check" failed=0 kind with without order
    for kind in mutex recursive trylock wait thread queued unguarded order; do
        rm -rf "$dir" && mkdir -p "$dir/with" "$dir/without"
        QT_QPA_PLATFORM=offscreen TSAN_OPTIONS="$options:log_path=$dir/with/report" LD_PRELOAD="$preload" \
            timeout 120 "$build/tools/zev_tsan_qt_sync_check" "$kind" >/dev/null 2>&1 || failed=1
        QT_QPA_PLATFORM=offscreen TSAN_OPTIONS="$options:log_path=$dir/without/report" \
            timeout 120 "$build/tools/zev_tsan_qt_sync_check" "$kind" >/dev/null 2>&1 || failed=1
        with=$(cat "$dir"/with/* 2>/dev/null | grep -c '^WARNING: ThreadSanitizer')
        without=$(cat "$dir"/without/* 2>/dev/null | grep -c '^WARNING: ThreadSanitizer')
        order=$(cat "$dir"/with/* 2>/dev/null | grep -c '^WARNING: ThreadSanitizer: lock-order-inversion')
        echo "race-check: self-check $kind: $with reports with the preload ($order lock-order), $without without"
        case "$kind" in
        unguarded) [ "$with" -gt 0 ] && [ "$without" -gt 0 ] || failed=1 ;;
        order) [ "$order" -gt 0 ] || failed=1 ;;
        *) [ "$with" = 0 ] || failed=1 ;;
        esac
        if [ "$kind" = mutex ] && [ "$without" = 0 ]; then failed=1; fi
    done
    rm -rf "$dir"
    [ "$failed" = 0 ] || { echo "race-check: the preload does not show Qt's synchronisation" >&2; return 1; }
}
self_check || exit 1

# The summary exits 3 when a lock-order inversion is in our code.
summary() {
    python3 tools/race-summary.py "$1" --source "$src"
    local st=$?
    [ "$st" = 3 ] && echo "race-check: a lock-order cycle in our code" >&2
    [ "$st" = 0 ]
}

if [ -z "$live" ]; then
    # The tests' environment (ZEV_RUN_ENV) logs to $build/tsan. A network
    # namespace of its own, as the live load has: nothing the suite starts
    # meets a running box or a live load beside it.
    rm -rf "$build/tsan" && mkdir -p "$build/tsan"
    start=$(date +%s)
    unshare -rn sh -c 'ip link set lo up && cd "$0" && exec ctest "$@"' "$build" -j"$jobs" --output-on-failure \
        "${ctest_args[@]}" >"$build/race-ctest.log" 2>&1
    rc=$?
    echo "race-check: suite ran $(($(date +%s) - start)) s under ThreadSanitizer; ctest exit $rc (log $build/race-ctest.log)"
    grep -E "tests passed|tests failed" "$build/race-ctest.log"
    sed -n '/The following tests FAILED/,$p' "$build/race-ctest.log"
    summary "$build/tsan" || rc=1
    exit "$rc"
fi

run="$(mktemp -d /tmp/zev-race-live.XXXXXX)"
mkdir -p "$run/tsan"
echo "race-check: live load for $live s, data root and logs in $run"
start=$(date +%s)
# The load makes a network namespace of its own: the fixed ports never meet
# a running box.
env QT_QPA_PLATFORM=offscreen LD_PRELOAD="$preload" \
    TSAN_OPTIONS="$options:log_path=$run/tsan/report" \
    python3 tools/race-load.py "$build/zevQ64N" --root "$run/root" --seconds "$live"
rc=$?
echo "race-check: live load ran $(($(date +%s) - start)) s; load driver exit $rc"
summary "$run/tsan" || rc=1
exit "$rc"
