#!/usr/bin/env bash
# WMV9 P pictures against FFmpeg's wmv2 encoder: rate-distortion (BD-PSNR
# over four rates) and CPU time per frame, one thread each, same input.
#
#   bench/vc1_inter_bench.sh [BUILD_DIR] [OUT_DIR]
#   VC1_LEVELS="0 1 2 3 4 5" bench/vc1_inter_bench.sh ...   (default "0 3 5")
#
# BUILD_DIR must hold bench/vc1_inter_encode (configure with
# -DASFW_BENCH=ON). Prints a table and writes OUT_DIR/vc1_inter_rd.png.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
out=${2:-$(mktemp -d)}
enc=$build/bench/vc1_inter_encode
[ -x "$enc" ] || { echo "missing $enc (build with -DASFW_BENCH=ON)" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "ffmpeg missing" >&2; exit 1; }
mkdir -p "$out"
results=$out/results.txt
: > "$results"

cpu() {  # cpu seconds (user + sys) of a command, output discarded
    /usr/bin/time -f "%U %S" -o "$out/time.txt" "$@" > /dev/null 2>&1
    awk '{ printf "%.3f", $1 + $2 }' "$out/time.txt"
}

psnr_y() {  # decoded.yuv source.yuv WxH
    ffmpeg -nostdin -f rawvideo -pix_fmt yuv420p -s "$3" -r 25 -i "$1" -f rawvideo -pix_fmt yuv420p -s "$3" -r 25 \
        -i "$2" -lavfi "[0:v][1:v]psnr" -f null - 2>&1 | sed -n 's/.*PSNR y:\([0-9.]*\).*/\1/p' | tail -1
}

run_size() {
    local w=$1 h=$2 frames=$3 rates=$4 pqs=$5
    local src=$out/src_${w}x$h.yuv
    "$enc" gen "$w" "$h" "$frames" "$src"
    local seconds
    seconds=$(awk -v f="$frames" 'BEGIN { print f / 25 }')
    for level in ${VC1_LEVELS:-0 3 5}; do
        for pq in $pqs; do
            local rcv=$out/o_${w}_${level}_$pq.rcv
            local t
            t=$(cpu "$enc" enc "$w" "$h" "$level" "$pq" "$src" "$rcv" 4)
            ffmpeg -nostdin -v error -i "$rcv" -c copy -y "$out/t.mkv" 2>/dev/null || true
            ffmpeg -nostdin -v error -i "$out/t.mkv" -f rawvideo -pix_fmt yuv420p -fps_mode passthrough -y "$out/d.yuv"
            # Payload bytes: file minus the 36-byte header and 8 bytes per frame.
            local bytes kbps p
            bytes=$(( $(stat -c %s "$rcv") - 36 - 8 * frames ))
            kbps=$(awk -v b="$bytes" -v s="$seconds" 'BEGIN { printf "%.1f", b * 8 / s / 1000 }')
            p=$(psnr_y "$out/d.yuv" "$src" "${w}x$h")
            echo "${w}x$h wmv9-c$level pq$pq $kbps $p $t $frames" | tee -a "$results"
        done
    done
    for rate in $rates; do
        local asf=$out/w_${w}_$rate.asf
        local t
        t=$(cpu ffmpeg -nostdin -v error -threads 1 -f rawvideo -pix_fmt yuv420p -s "${w}x$h" -r 25 -i "$src" \
            -c:v wmv2 -threads 1 -b:v "${rate}k" -g 100 -y "$asf")
        ffmpeg -nostdin -v error -i "$asf" -map 0:v:0 -fps_mode passthrough -f rawvideo -pix_fmt yuv420p -y "$out/d.yuv"
        local bytes kbps p
        bytes=$(ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 "$asf" | awk '{ s += $1 } END { print s }')
        kbps=$(awk -v b="$bytes" -v s="$seconds" 'BEGIN { printf "%.1f", b * 8 / s / 1000 }')
        p=$(psnr_y "$out/d.yuv" "$src" "${w}x$h")
        echo "${w}x$h wmv2 ${rate}k $kbps $p $t $frames" | tee -a "$results"
    done
}

run_size 640 480 50 "250 500 1000 2000" "1 2 4 8"
run_size 1280 720 30 "500 1000 2000 4000" "1 2 4 8"
python3 "$here/vc1_inter_bdpsnr.py" "$results" "$out/vc1_inter_rd.png"
echo "results in $out"
