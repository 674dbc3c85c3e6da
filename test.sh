#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in a normal build, once under
# AddressSanitizer + UndefinedBehaviorSanitizer, the suites that run threads once more under
# ThreadSanitizer, then builds the fuzz targets and replays their seed corpora when clang is
# present. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/setup.sh

jobs=$(nproc)

echo "== build (RelWithDebInfo)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
echo "== tests"
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 600

echo "== build (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DNIMBRA_SANITIZE=ON -DNIMBRA_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
echo "== tests under sanitizers"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" \
    ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 900

echo "== build (ThreadSanitizer, the threaded suites only)"
tsan_start=$(date +%s)
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNIMBRA_TSAN=ON -DNIMBRA_BENCH=OFF >/dev/null
cmake --build build-tsan -j "$jobs" --target threaded-tests
echo "== threaded tests under ThreadSanitizer"
# Left out here: the long-run memory check (it would measure the sanitizer's own bookkeeping), the
# run with no memory left (the sanitizer's allocator dies of it first), a wall-clock bound the
# sanitizer's slowdown breaks, and the block transfers of every width, which move megabytes
# through one thread and take most of the time.
# Every process writes its reports to a file, so that a race inside the simulator or the command
# line, which the tests start as separate processes, fails the pass as well.
rm -f build-tsan/tsan-report.*
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:log_path=$PWD/build-tsan/tsan-report" \
    ctest --test-dir build-tsan -L threaded \
    -E 'MemoryStaysFlatOverALongRun|RunningOutOfMemoryIsAnErrorCode|AHolderKilledInsideAnExchangeDoesNotStopTheOthers|AllWidths/BlockWidth' \
    --output-on-failure -j "$jobs" --timeout 900
if compgen -G "build-tsan/tsan-report.*" >/dev/null; then
    cat build-tsan/tsan-report.*
    echo "ThreadSanitizer reported the races above"
    exit 1
fi
echo "ThreadSanitizer pass: $(($(date +%s) - tsan_start)) s"

if command -v clang++ >/dev/null 2>&1; then
    echo "== fuzz targets (clang, libFuzzer)"
    cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DNIMBRA_FUZZ=ON -DNIMBRA_TESTS=OFF -DNIMBRA_BENCH=OFF -DNIMBRA_WERROR=OFF >/dev/null
    cmake --build build-fuzz -j "$jobs" --target fuzz-targets
    ./fuzz/replay.sh build-fuzz
fi
echo "test.sh: all passed"
