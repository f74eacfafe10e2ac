#!/usr/bin/env bash
# Installs, builds and runs the whole test suite, then again under
# AddressSanitizer (leak checker on) and UndefinedBehaviorSanitizer. Both
# passes always run; the script fails when either failed.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
tools/check-build-folders.sh run-tests "the tests" build build-asan || exit 1
tools/install-deps.sh || exit 1
jobs="$(nproc)"

pass() {
    local dir="$1"
    shift
    cmake -S . -B "$dir" "$@" >/dev/null &&
        cmake --build "$dir" -j"$jobs" &&
        (cd "$dir" && ctest --output-on-failure -j"$jobs"
            status=$?
            # ctest lists the test programs it skipped, and counts one
            # where only some cases skipped themselves as passed: its log
            # has every case that skipped, and why.
            awk '/^[0-9]+\/[0-9]+ Test: / { name = $3 }
                 sub(/^SKIP   : [A-Za-z0-9_]+::initTestCase\(\) /, "") { print "skipped " name ": " $0; next }
                 sub(/^SKIP   : [A-Za-z0-9_]+::/, "") {
                     # The case is the function and its row in brackets,
                     # which the name of the row may hold too; the reason
                     # follows.
                     depth = 0
                     for (end = index($0, "("); end > 0 && end <= length($0); end++) {
                         c = substr($0, end, 1)
                         depth += (c == "(") - (c == ")")
                         if (depth == 0)
                             break
                     }
                     print "skipped " name ", case " substr($0, 1, end) ": " substr($0, end + 2)
                 }' \
                Testing/Temporary/LastTest.log
            exit "$status")
}

failed=0
pass build -DCMAKE_BUILD_TYPE=Release || { echo "run-tests: the normal pass failed" >&2; failed=1; }
pass build-asan -DCMAKE_BUILD_TYPE=Debug -DZEV_SANITIZE=ON -DZEV_BUILD_BENCH=OFF ||
    { echo "run-tests: the sanitizer pass failed" >&2; failed=1; }
exit "$failed"
