#!/usr/bin/env bash
# Sets everything up, builds, and runs every test: the normal build, the
# AddressSanitizer + UndefinedBehaviorSanitizer build, the Windows
# cross-build checks and the bounded fuzzing runs.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${ASFW_SKIP_DEPS:-0}" = 1 ] || scripts/install-deps.sh
jobs=$(nproc)

echo "== build and test"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== sanitizer build and test"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DASFW_SANITIZE=ON -DASFW_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" -LE 'slow'

for extra in scripts/test-*.sh; do
  [ -x "$extra" ] || continue
  echo "== $extra"
  "$extra"
done
