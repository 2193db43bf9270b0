#!/usr/bin/env bash
# Video: asfenc (WMV9) against ffmpeg -c:v wmv2 (and msmpeg4, mpeg4 for
# context) on the same inputs: CPU time per frame, achieved bit rate against
# the target, PSNR, BD-PSNR over four rates, and an RD plot (bench/video_rd.png).
#
#   bench/video.sh                       (640x480, 150 frames per clip, 500/1000/2000/4000 kbit/s)
#   FRAMES=60 RATES=500,2000 bench/video.sh
# Environment: BUILD (build folder, default build), SIZE, FPS, FRAMES, RATES,
# CLIPS (testsrc2,mandelbrot,photo; also gradients+noise), ENCODERS, PLOT (PNG path or empty).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
if [ ! -x "$BUILD/tools/asfenc" ]; then
  cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$BUILD" -j"$(nproc)" --target asfenc >/dev/null
fi
# Debian's python3 has python3-matplotlib for the plot; prefer it over others on PATH.
PY=python3
[ -x /usr/bin/python3 ] && PY=/usr/bin/python3
exec "$PY" bench/video_rd.py --asfenc "$BUILD/tools/asfenc" \
  --size "${SIZE:-640x480}" --fps "${FPS:-30000/1001}" --frames "${FRAMES:-150}" \
  --rates "${RATES:-500,1000,2000,4000}" --clips "${CLIPS:-testsrc2,mandelbrot,photo}" \
  --encoders "${ENCODERS:-asfenc,wmv2,msmpeg4,mpeg4}" --plot "${PLOT-bench/video_rd.png}"
