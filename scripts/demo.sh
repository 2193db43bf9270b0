#!/usr/bin/env bash
# Sets everything up, builds, and writes demo.wmv from the built-in test pattern.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${ASFW_SKIP_DEPS:-0}" = 1 ] || scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target asfenc
./build/tools/asfenc
