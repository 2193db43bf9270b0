#!/bin/sh
# WMV9 intra pictures against FFmpeg's wmv2 intra-only (-g 1) on the same
# frames: bit rate and PSNR (both measured by FFmpeg's psnr filter on the
# decoded streams), and encoding speed.
#
#   bench/vc1_intra.sh [BUILD_DIR] [W H FRAMES PATTERN]
# defaults: build-bench 640 480 25 photo
set -eu
BUILD=${1:-build-bench}
W=${2:-640}
H=${3:-480}
N=${4:-25}
PATTERN=${5:-photo}
PQS=${PQS:-2,4,6,8,12,16,22}
WMV2Q=${WMV2Q:-2 3 4 6 9 14 20}
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT

psnr() { # decoded-file -> average PSNR (all planes), y PSNR
    ffmpeg -nostdin -v info -i "$1" -f rawvideo -pix_fmt yuv420p -s "${W}x${H}" -r 25 -i "$OUT/src.yuv" \
        -lavfi "[0:v][1:v]psnr" -f null - 2>&1 | sed -n 's/.*PSNR y:\([0-9.inf]*\).*average:\([0-9.inf]*\).*/\2 \1/p' | tail -1
}

echo "content: $PATTERN ${W}x${H}, $N frames at 25 fps"
echo "encoder        setting   kbps      PSNR-avg PSNR-Y   encode-fps (wall, cpu)"
"$BUILD/bench/vc1_intra_bench" "$W" "$H" "$N" "$PATTERN" "$PQS" "$OUT" > "$OUT/ours.txt"
while read -r line; do
    pq=$(echo "$line" | sed 's/pq=\([0-9]*\).*/\1/')
    kbps=$(echo "$line" | sed 's/.*kbps=\([0-9.]*\).*/\1/')
    fps=$(echo "$line" | sed 's/.* fps=\([0-9.]*\).*/\1/')
    cfps=$(echo "$line" | sed 's/.*cpu_fps=\([0-9.]*\).*/\1/')
    set -- $(psnr "$OUT/pq$pq.rcv")
    printf "wmv9-intra     pq=%-6s %-9s %-8s %-8s %s, %s\n" "$pq" "$kbps" "$1" "$2" "$fps" "$cfps"
done < "$OUT/ours.txt"
for q in $WMV2Q; do
    start=$(date +%s.%N)
    /usr/bin/time -f "%U %S" -o "$OUT/time.txt" ffmpeg -nostdin -v error -f rawvideo -pix_fmt yuv420p -s "${W}x${H}" -r 25 -i "$OUT/src.yuv" \
        -c:v wmv2 -g 1 -q:v "$q" -y "$OUT/wmv2_$q.avi"
    end=$(date +%s.%N)
    bytes=$(ffprobe -v error -select_streams v -show_entries packet=size -of csv=p=0 "$OUT/wmv2_$q.avi" | awk '{s+=$1} END {print s}')
    kbps=$(echo "$bytes $N" | awk '{printf "%.1f", $1*8*25/$2/1000}')
    fps=$(echo "$start $end $N" | awk '{printf "%.1f", $3/($2-$1)}')
    cfps=$(awk -v n="$N" '{printf "%.1f", n/($1+$2)}' "$OUT/time.txt")
    set -- $(psnr "$OUT/wmv2_$q.avi")
    printf "wmv2 -g 1      q=%-7s %-9s %-8s %-8s %s, %s (whole ffmpeg run)\n" "$q" "$kbps" "$1" "$2" "$fps" "$cfps"
done
