#!/usr/bin/env bash
# Peak resident memory of a long file written through the public library,
# with the host delivering the streams in time order and far out of order
# (all video before any audio, and the other way round).
#
#   bench/memory.sh [MINUTES] [WIDTHxHEIGHT]     (default 30 minutes, 640x480)
#   MINUTES=1 bench/memory.sh                    (a quick run)
# Environment: BUILD (build folder, default build), OUT (scratch folder).
set -euo pipefail
cd "$(dirname "$0")/.."
MINUTES=${1:-${MINUTES:-30}}
SIZE=${2:-640x480}
BUILD=${BUILD:-build}
OUT=${OUT:-$(mktemp -d /tmp/asfw-memory-XXXXXX)}
host=$BUILD/bench/memory_host
if [ ! -x "$host" ]; then
  cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$BUILD" -j"$(nproc)" --target memory_host >/dev/null
fi
echo "memory: $MINUTES min of $SIZE at 29.97 fps, 1000 kbit/s CBR video + 128 kbit/s audio, default complexity"
for order in in-order video-first audio-first; do
  "$host" "$OUT/$order.wmv" "$MINUTES" "$order" "$SIZE"
  if command -v ffprobe >/dev/null; then
    d=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$OUT/$order.wmv")
    echo "             ffprobe duration ${d} s"
  fi
  rm -f "$OUT/$order.wmv"
done
rmdir "$OUT" 2>/dev/null || true
