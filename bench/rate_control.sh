#!/usr/bin/env bash
# WMV9 rate control against FFmpeg's wmv2 at the same targets, on natural
# content: target vs actual rate, worst leaky-bucket fullness (rate x 3 s,
# share of the bucket; > 1 overflows), PSNR (decoded in decode order, raw
# against raw); BD-PSNR of two-pass CBR against one-pass CBR, and of
# one-pass CBR against wmv2; quality VBR over quality levels.
#
#   bench/rate_control.sh [BUILD_DIR] [OUT_DIR] [WxH] [FRAMES] [RATES]
#
# BUILD_DIR must hold bench/rate_control_encode and bench/vc1_inter_encode
# (configure with -DASFW_BENCH=ON). SRC=clip.yuv (raw I420 of WxH, at least
# FRAMES pictures) replaces the generated landscape clip, e.g. a fractal zoom:
#   ffmpeg -f lavfi -i mandelbrot=size=640x480:rate=25:end_scale=0.05 -frames:v 200 -pix_fmt yuv420p -f rawvideo m.yuv
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
out=${2:-$(mktemp -d)}
size=${3:-352x288}
frames=${4:-300}
rates=${5:-"150 300 600 1200"}
enc=$build/bench/rate_control_encode
gen=$build/bench/vc1_inter_encode
for b in "$enc" "$gen"; do [ -x "$b" ] || { echo "missing $b (build with -DASFW_BENCH=ON)" >&2; exit 1; }; done
command -v ffmpeg >/dev/null || { echo "ffmpeg missing" >&2; exit 1; }
mkdir -p "$out"
w=${size%x*}
h=${size#*x}
fps=25
src=$out/src.yuv
if [ -n "${SRC:-}" ]; then
    head -c $((w * h * 3 / 2 * frames)) "$SRC" > "$src"
else
    "$gen" gen "$w" "$h" "$frames" "$src"
fi
results=$out/results.txt
: > "$results"

psnr() {  # decoded.yuv -> "Y ALL"
    ffmpeg -nostdin -f rawvideo -pix_fmt yuv420p -s "$size" -r $fps -i "$1" -f rawvideo -pix_fmt yuv420p -s "$size" \
        -r $fps -i "$src" -lavfi "[0:v][1:v]psnr" -f null - 2>&1 |
        sed -n 's/.*PSNR y:\([0-9.inf]*\).*average:\([0-9.inf]*\).*/\1 \2/p' | tail -1
}

decode() {  # file.wmv -> dec.yuv, prints the frame count
    ffmpeg -nostdin -v error -i "$1" -map 0:v:0 -fps_mode passthrough -f rawvideo -pix_fmt yuv420p -y "$out/dec.yuv"
    echo $(( $(stat -c %s "$out/dec.yuv") / (w * h * 3 / 2) ))
}

# Rate and buckets of any ASF video stream from ffprobe's packets.
probe() {  # file.wmv rate_bps -> "kbps worst_bucket"
    ffprobe -v error -select_streams v:0 -show_entries packet=pts_time,size -of csv=p=0 "$1" |
        python3 -c '
import sys
rate = float(sys.argv[1]); frames = int(sys.argv[2]); fps = float(sys.argv[3])
pk = sorted((float(t), int(s)) for t, s in (l.strip().split(",")[:2] for l in sys.stdin if l.strip()))
full = worst = prev = 0.0
for i, (t, s) in enumerate(pk):
    if i: full = max(0.0, full - rate * (t - prev))
    full += 8 * s; worst = max(worst, full); prev = t
print("%.1f %.3f" % (sum(s for _, s in pk) * 8 / (frames / fps) / 1000, worst / (rate * 3)))' "$2" "$frames" "$fps"
}

printf "%-6s %-8s %8s %8s %7s %7s %7s %6s %6s\n" mode setting target_k actual_k bucket peakbk psnr_y psnr skip | tee -a "$results"
for rate in $rates; do
    for mode in cbr1 cbr2 pvbr; do
        f=$out/${mode}_$rate.wmv
        read -r n kbps worst peak skipped keys longest < <("$enc" "$w" "$h" $fps "$src" "$f" $mode "$rate")
        got=$(decode "$f")
        [ "$got" = "$frames" ] || echo "warning: $f decoded to $got frames" >&2
        read -r py pa < <(psnr "$out/dec.yuv")
        printf "%-6s %-8s %8s %8s %7s %7s %7s %6s %6s\n" $mode "${rate}k" "$rate" "$kbps" "$worst" "$peak" "$py" "$pa" \
            "$skipped" | tee -a "$results"
    done
    f=$out/wmv2_$rate.asf
    ffmpeg -nostdin -v error -threads 1 -f rawvideo -pix_fmt yuv420p -s "$size" -r $fps -i "$src" -c:v wmv2 -threads 1 \
        -b:v "${rate}k" -g 100 -y "$f"
    read -r kbps worst < <(probe "$f" $((rate * 1000)))
    decode "$f" > /dev/null
    read -r py pa < <(psnr "$out/dec.yuv")
    printf "%-6s %-8s %8s %8s %7s %7s %7s %6s %6s\n" wmv2 "${rate}k" "$rate" "$kbps" "$worst" - "$py" "$pa" - |
        tee -a "$results"
done
for q in 20 40 60 80; do
    f=$out/vbrq_$q.wmv
    read -r n kbps worst peak skipped keys longest < <("$enc" "$w" "$h" $fps "$src" "$f" vbrq 1000 $q)
    decode "$f" > /dev/null
    read -r py pa < <(psnr "$out/dec.yuv")
    printf "%-6s %-8s %8s %8s %7s %7s %7s %6s %6s\n" vbrq "q$q" - "$kbps" - - "$py" "$pa" "$skipped" | tee -a "$results"
done

# BD-PSNR (luma): cubic of PSNR over log10(rate), mean difference over the
# overlapping rate range.
python3 - "$results" <<'EOF'
import sys
rows = [l.split() for l in open(sys.argv[1]) if l.strip() and not l.startswith("mode")]
curves = {}
for r in rows:
    if r[0] in ("cbr1", "cbr2", "pvbr", "wmv2"):
        curves.setdefault(r[0], []).append((float(r[3]), float(r[6])))

def fit(pts):
    import math
    xs = [math.log10(r) for r, _ in pts]; ys = [p for _, p in pts]
    n = 4 if len(pts) >= 4 else len(pts)
    a = [[sum(x ** (i + j) for x in xs) for j in range(n)] for i in range(n)]
    b = [sum(y * x ** i for x, y in zip(xs, ys)) for i in range(n)]
    m = [row[:] + [b[i]] for i, row in enumerate(a)]
    for c in range(n):
        p = max(range(c, n), key=lambda r: abs(m[r][c])); m[c], m[p] = m[p], m[c]
        for r in range(n):
            if r != c:
                f = m[r][c] / m[c][c]
                for k in range(c, n + 1): m[r][k] -= f * m[c][k]
    return [m[i][n] / m[i][i] for i in range(n)], min(xs), max(xs)

def integral(c, lo, hi):
    return sum(c[i] * (hi ** (i + 1) - lo ** (i + 1)) / (i + 1) for i in range(len(c)))

def bd(a, b):
    ca, la, ha = fit(curves[a]); cb, lb, hb = fit(curves[b])
    lo, hi = max(la, lb), min(ha, hb)
    if hi <= lo: return float("nan")
    return (integral(ca, lo, hi) - integral(cb, lo, hi)) / (hi - lo)

for a, b in (("cbr2", "cbr1"), ("pvbr", "cbr1"), ("cbr1", "wmv2"), ("cbr2", "wmv2")):
    if a in curves and b in curves:
        print("BD-PSNR %s vs %s: %+.2f dB" % (a, b, bd(a, b)))
EOF
echo "results in $out"
