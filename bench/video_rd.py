#!/usr/bin/env python3
"""Video benchmark: asfenc (WMV9) against FFmpeg's wmv2, msmpeg4 and mpeg4 on
the same inputs in one run: CPU time per frame, bit rate achieved against the
target, PSNR (decoded to raw first, then raw compared with raw), BD-PSNR over
the rates, and a rate-distortion plot.

Run through bench/video.sh, which builds asfenc first.
"""
import argparse
import math
import os
import re
import resource
import shutil
import subprocess
import sys
import tempfile

# A photograph that Debian's matplotlib data package ships (python3-matplotlib
# pulls it in); the "photo" clip pans and zooms over it.
PHOTO = "/usr/share/matplotlib/mpl-data/sample_data/grace_hopper.jpg"

CLIPS = {
    # name: (FFmpeg input arguments, what it stands for)
    "testsrc2": (["-f", "lavfi", "-i", "testsrc2=size={w}x{h}:rate={fps}"],
                 "synthetic: moving test card, sharp edges, text"),
    "mandelbrot": (["-f", "lavfi", "-i", "mandelbrot=size={w}x{h}:rate={fps}:end_scale=0.05,format=yuv420p"],
                   "fine detail under a continuous zoom"),
    "photo": (["-loop", "1", "-framerate", "{fps}", "-i", PHOTO, "-vf",
               "scale=1024:1200,zoompan=z='1.3+0.003*on':x='(iw-iw/zoom)*on/{frames}':"
               "y='(ih-ih/zoom)*(0.2+0.3*on/{frames})':d=1:s={w}x{h}:fps={fps},format=yuv420p"],
              "a photograph panned and zoomed (camera move over real texture)"),
    "gradients+noise": (["-f", "lavfi", "-i", "gradients=size={w}x{h}:rate={fps}:speed=0.02:n=5,"
                         "format=yuv420p,noise=alls=2:allf=t"],
                        "camera-like: smooth moving shading with temporal sensor noise"),
}

ENCODERS = ["asfenc", "wmv2", "msmpeg4", "mpeg4"]


def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kw)


def cpu_seconds_of(cmd):
    """Runs `cmd`; returns (returncode, user+sys CPU seconds of it, stderr)."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    p = run(cmd)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return p.returncode, cpu, p.stderr


def make_clip(name, w, h, fps, frames, out):
    args = [a.format(w=w, h=h, fps=fps, frames=frames) for a in CLIPS[name][0]]
    p = run(["ffmpeg", "-v", "error", "-y"] + args + ["-frames:v", str(frames),
             "-pix_fmt", "yuv420p", "-f", "yuv4mpegpipe", out])
    if p.returncode != 0:
        sys.exit("cannot make clip %s: %s" % (name, p.stderr))


def encode(encoder, asfenc, clip, kbps, out):
    if encoder == "asfenc":
        cmd = [asfenc, "-i", clip, "-b", str(kbps), "-o", out]
    else:
        codec = {"wmv2": "wmv2", "msmpeg4": "msmpeg4", "mpeg4": "mpeg4"}[encoder]
        # One thread; key frames at most 4 s apart like the writer's streams.
        cmd = ["ffmpeg", "-v", "error", "-y", "-threads", "1", "-filter_threads", "1", "-i", clip,
               "-c:v", codec, "-b:v", "%dk" % kbps, "-g", "120", "-threads", "1", "-an", out]
    code, cpu, err = cpu_seconds_of(cmd)
    if code != 0:
        sys.exit("%s failed at %d kbit/s: %s" % (encoder, kbps, err))
    return cpu


def achieved_kbps(path, frames, fps_num, fps_den):
    p = run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "packet=size",
             "-of", "csv=p=0", path])
    total = sum(int(x) for x in p.stdout.split() if x.strip().isdigit())
    seconds = frames * fps_den / fps_num
    return total * 8 / seconds / 1000.0


def psnr(path, source_yuv, w, h, frames, work):
    dec = os.path.join(work, "dec.yuv")
    p = run(["ffmpeg", "-v", "error", "-y", "-i", path, "-map", "0:v:0", "-fps_mode", "passthrough",
             "-f", "rawvideo", "-pix_fmt", "yuv420p", dec])
    if p.returncode != 0:
        sys.exit("cannot decode %s: %s" % (path, p.stderr))
    size = os.path.getsize(dec)
    decoded = size // (w * h * 3 // 2)
    if decoded != frames:
        print("  warning: %s decodes to %d frames, source has %d" % (os.path.basename(path), decoded, frames))
    raw = ["-f", "rawvideo", "-pix_fmt", "yuv420p", "-s", "%dx%d" % (w, h), "-r", "25"]
    p = run(["ffmpeg", "-hide_banner", "-nostats"] + raw + ["-i", dec] + raw + ["-i", source_yuv] +
            ["-lavfi", "[0:v][1:v]psnr", "-f", "null", "-"])
    m = re.search(r"PSNR y:([\d.inf]+) u:([\d.inf]+) v:([\d.inf]+) average:([\d.inf]+)", p.stderr)
    if not m:
        sys.exit("no PSNR for %s: %s" % (path, p.stderr[-500:]))
    os.remove(dec)
    return float(m.group(1)), float(m.group(4)), decoded


def solve(a, b):
    """Gaussian elimination with partial pivoting for a small dense system."""
    n = len(b)
    m = [row[:] + [b[i]] for i, row in enumerate(a)]
    for c in range(n):
        p = max(range(c, n), key=lambda r: abs(m[r][c]))
        m[c], m[p] = m[p], m[c]
        for r in range(c + 1, n):
            f = m[r][c] / m[c][c]
            for k in range(c, n + 1):
                m[r][k] -= f * m[c][k]
    x = [0.0] * n
    for r in range(n - 1, -1, -1):
        x[r] = (m[r][n] - sum(m[r][k] * x[k] for k in range(r + 1, n))) / m[r][r]
    return x


def cubic_fit(xs, ys):
    """Least-squares polynomial through the points: a cubic for four or more,
    lower degrees for fewer."""
    n = min(4, len(xs))
    a = [[sum(x ** (i + j) for x in xs) for j in range(n)] for i in range(n)]
    b = [sum(y * x ** i for x, y in zip(xs, ys)) for i in range(n)]
    return solve(a, b)


def integral(c, lo, hi):
    def prim(x):
        return sum(c[i] * x ** (i + 1) / (i + 1) for i in range(len(c)))
    return prim(hi) - prim(lo)


def curve(rates, psnrs):
    """Points sorted by rate, in log10 rate; a point whose rate is not above
    the one before it is dropped (an encoder that could not reach a lower
    rate)."""
    pts = sorted(zip(rates, psnrs))
    out = []
    for r, q in pts:
        x = math.log10(r)
        if out and x <= out[-1][0] + 1e-9:
            out[-1] = (out[-1][0], max(out[-1][1], q))
            continue
        out.append((x, q))
    return [p[0] for p in out], [p[1] for p in out]


def bd_psnr(rates_a, psnr_a, rates_b, psnr_b):
    """Mean PSNR gain of curve b over curve a across their common rate range:
    cubic fits of PSNR over log10 rate, integrated over the overlap."""
    la, pa = curve(rates_a, psnr_a)
    lb, pb = curve(rates_b, psnr_b)
    lo, hi = max(min(la), min(lb)), min(max(la), max(lb))
    if hi <= lo or len(la) < 2 or len(lb) < 2:
        return float("nan")
    ca, cb = cubic_fit(la, pa), cubic_fit(lb, pb)
    return (integral(cb, lo, hi) - integral(ca, lo, hi)) / (hi - lo)


def pchip(xs, ys, x):
    """Monotone piecewise-cubic (Fritsch-Carlson) interpolation at x."""
    n = len(xs)
    h = [xs[i + 1] - xs[i] for i in range(n - 1)]
    d = [(ys[i + 1] - ys[i]) / h[i] for i in range(n - 1)]
    m = [0.0] * n
    m[0], m[-1] = d[0], d[-1]
    for i in range(1, n - 1):
        if d[i - 1] * d[i] > 0:
            w1, w2 = 2 * h[i] + h[i - 1], h[i] + 2 * h[i - 1]
            m[i] = (w1 + w2) / (w1 / d[i - 1] + w2 / d[i])
    i = max(0, min(n - 2, next((k for k in range(n - 1) if x <= xs[k + 1]), n - 2)))
    t = (x - xs[i]) / h[i]
    h00, h10 = 2 * t ** 3 - 3 * t ** 2 + 1, t ** 3 - 2 * t ** 2 + t
    h01, h11 = -2 * t ** 3 + 3 * t ** 2, t ** 3 - t ** 2
    return h00 * ys[i] + h10 * h[i] * m[i] + h01 * ys[i + 1] + h11 * h[i] * m[i + 1]


def bd_psnr_pchip(rates_a, psnr_a, rates_b, psnr_b, steps=2000):
    """The same mean gap with monotone piecewise-cubic curves, which a few
    badly spaced points cannot make swing."""
    la, pa = curve(rates_a, psnr_a)
    lb, pb = curve(rates_b, psnr_b)
    lo, hi = max(min(la), min(lb)), min(max(la), max(lb))
    if hi <= lo or len(la) < 2 or len(lb) < 2:
        return float("nan")
    total = 0.0
    for k in range(steps):
        x = lo + (k + 0.5) * (hi - lo) / steps
        total += pchip(lb, pb, x) - pchip(la, pa, x)
    return total / steps


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--asfenc", required=True)
    ap.add_argument("--size", default="640x480")
    ap.add_argument("--fps", default="30000/1001")
    ap.add_argument("--frames", type=int, default=150)
    ap.add_argument("--rates", default="500,1000,2000,4000")
    ap.add_argument("--clips", default=",".join(CLIPS))
    ap.add_argument("--encoders", default=",".join(ENCODERS))
    ap.add_argument("--plot", default="")
    ap.add_argument("--work", default="")
    args = ap.parse_args()

    w, h = (int(v) for v in args.size.split("x"))
    fps_num, fps_den = (int(v) for v in (args.fps.split("/") + ["1"])[:2])
    rates = [int(r) for r in args.rates.split(",")]
    clips = args.clips.split(",")
    if "photo" in clips and not os.path.exists(PHOTO):
        print("(no photo clip: %s is missing; install python3-matplotlib)" % PHOTO)
        clips.remove("photo")
    encoders = args.encoders.split(",")
    work = args.work or tempfile.mkdtemp(prefix="asfw-video-bench-")
    os.makedirs(work, exist_ok=True)

    print("video: %s at %s fps, %d frames per clip, targets %s kbit/s, one thread each"
          % (args.size, args.fps, args.frames, args.rates))
    results = {}  # (clip, encoder) -> list of (target, kbps, psnr_y, psnr_avg, ms_per_frame)
    for clip in clips:
        y4m = os.path.join(work, clip + ".y4m")
        yuv = os.path.join(work, clip + ".yuv")
        make_clip(clip, w, h, "%d/%d" % (fps_num, fps_den), args.frames, y4m)
        run(["ffmpeg", "-v", "error", "-y", "-i", y4m, "-f", "rawvideo", "-pix_fmt", "yuv420p", yuv])
        print("\n%s (%s)" % (clip, CLIPS[clip][1]))
        print("%-9s %7s %9s %7s %8s %8s %9s" % ("encoder", "target", "achieved", "error", "PSNR-Y", "PSNR", "ms/frame"))
        for enc in encoders:
            rows = []
            for kbps in rates:
                ext = {"asfenc": ".wmv", "wmv2": ".wmv", "msmpeg4": ".avi", "mpeg4": ".avi"}[enc]
                out = os.path.join(work, "%s-%s-%d%s" % (clip, enc, kbps, ext))
                cpu = encode(enc, args.asfenc, y4m, kbps, out)
                got = achieved_kbps(out, args.frames, fps_num, fps_den)
                py, pa, _ = psnr(out, yuv, w, h, args.frames, work)
                ms = cpu * 1000.0 / args.frames
                rows.append((kbps, got, py, pa, ms))
                print("%-9s %7d %9.0f %+6.1f%% %8.2f %8.2f %9.2f"
                      % (enc, kbps, got, (got - kbps) * 100.0 / kbps, py, pa, ms))
                os.remove(out)
            results[(clip, enc)] = rows
        os.remove(y4m)
        os.remove(yuv)

    # BD-PSNR of every encoder against wmv2, per clip, at the achieved rates.
    ref = "wmv2" if "wmv2" in encoders else encoders[0]
    print("\nBD-PSNR (Y) against %s over the achieved rates (cubic fit; monotone piecewise cubic beside it);"
          " CPU time per frame relative to %s" % (ref, ref))
    print("%-16s %-9s %10s %10s %9s" % ("clip", "encoder", "BD cubic", "BD pchip", "CPU"))

    def db(v):
        return "%+7.2f dB" % v if not math.isnan(v) else "   no overlap"

    for clip in clips:
        r0 = results[(clip, ref)]
        cpu0 = sum(r[4] for r in r0) / len(r0)
        for enc in encoders:
            if enc == ref:
                continue
            r1 = results[(clip, enc)]
            args_ = ([r[1] for r in r0], [r[2] for r in r0], [r[1] for r in r1], [r[2] for r in r1])
            cpu1 = sum(r[4] for r in r1) / len(r1)
            print("%-16s %-9s %s %s %8.2fx" % (clip, enc, db(bd_psnr(*args_)), db(bd_psnr_pchip(*args_)), cpu1 / cpu0))

    if args.plot:
        try:
            import matplotlib
            matplotlib.use("Agg")
            import matplotlib.pyplot as plt
        except ImportError:
            print("\n(no plot: python3-matplotlib is not installed)")
            return
        fig, axes = plt.subplots(1, len(clips), figsize=(5 * len(clips), 4.2), squeeze=False)
        for ax, clip in zip(axes[0], clips):
            for enc in encoders:
                rows = results[(clip, enc)]
                ax.plot([r[1] for r in rows], [r[2] for r in rows], marker="o",
                        label="asfenc (WMV9)" if enc == "asfenc" else "ffmpeg " + enc)
            ax.set_xscale("log")
            ax.set_title("%s, %s" % (clip, args.size))
            ax.set_xlabel("achieved bit rate (kbit/s)")
            ax.set_ylabel("PSNR-Y (dB)")
            ax.grid(True, which="both", alpha=0.3)
            ax.legend(fontsize=8)
        fig.tight_layout()
        fig.savefig(args.plot, dpi=90)
        print("\nplot: %s" % args.plot)
    if not args.work:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
