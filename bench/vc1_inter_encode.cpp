// Benchmark driver for the WMV9 encoder with P pictures.
//
//   vc1_inter_encode gen W H FRAMES out.yuv
//       writes natural-looking moving I420 content (a panned and zoomed
//       procedural landscape with moving objects and some camera shake);
//   vc1_inter_encode enc W H COMPLEXITY PQINDEX in.yuv out.rcv [KEYSEC]
//       encodes it at a fixed quantiser (25 frames per second) and writes a
//       raw VC-1 test bitstream; prints "frames bytes key_frames".
// bench/vc1_inter_bench.sh runs the comparison with FFmpeg's wmv2.
#include "video_encoder/vc1_encoder.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::uint32_t hash2(int x, int y, std::uint32_t seed)
{
    std::uint32_t h = static_cast<std::uint32_t>(x) * 374761393u + static_cast<std::uint32_t>(y) * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

double valueNoise(double x, double y, std::uint32_t seed)
{
    const int xi = static_cast<int>(std::floor(x)), yi = static_cast<int>(std::floor(y));
    const double fx = x - xi, fy = y - yi;
    const double sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
    auto v = [&](int a, int b) { return (hash2(a, b, seed) & 0xFFFF) / 65535.0; };
    const double top = v(xi, yi) + (v(xi + 1, yi) - v(xi, yi)) * sx;
    const double bot = v(xi, yi + 1) + (v(xi + 1, yi + 1) - v(xi, yi + 1)) * sx;
    return top + (bot - top) * sy;
}

// Luma and chroma of the landscape at world position (u, v) in samples.
void landscape(double u, double v, double out[3])
{
    double n = 0, amp = 1, freq = 1.0 / 96, norm = 0;
    for (int o = 0; o < 6; ++o) {
        n += amp * valueNoise(u * freq, v * freq, 17u + static_cast<std::uint32_t>(o));
        norm += amp;
        amp *= 0.55;
        freq *= 2.1;
    }
    n /= norm;
    const double horizon = 220 + 40 * std::sin(u / 170.0);
    double y;
    double cb = 128, cr = 128;
    if (v < horizon) {  // sky with clouds
        y = 150 + 60 * n + 0.1 * v;
        cb = 150;
        cr = 115;
    } else {  // textured ground with rows of "plants"
        const double rows = 0.5 + 0.5 * std::sin(v / 6.0 + 3 * n);
        y = 40 + 120 * n + 40 * rows;
        cb = 105 + 20 * n;
        cr = 120 + 25 * rows;
    }
    out[0] = y;
    out[1] = cb;
    out[2] = cr;
}

unsigned char clip(double v) { return static_cast<unsigned char>(v < 0 ? 0 : (v > 255 ? 255 : std::lround(v))); }

void makeFrame(int w, int h, int n, std::vector<unsigned char>& f)
{
    f.resize(static_cast<std::size_t>(w) * h * 3 / 2);
    const double zoom = 1.0 + 0.004 * n;
    const double panX = 2.3 * n + 3 * std::sin(n * 1.7), panY = 0.8 * n + 2 * std::cos(n * 2.3);
    unsigned char* py = f.data();
    unsigned char* pu = py + static_cast<std::size_t>(w) * h;
    unsigned char* pv = pu + static_cast<std::size_t>(w / 2) * (h / 2);
    const double cx = w / 2.0, cy = h / 2.0;
    for (int y = 0; y < h; y += 2)
        for (int x = 0; x < w; x += 2) {
            double cbs = 0, crs = 0;
            for (int k = 0; k < 4; ++k) {
                const int xx = x + (k & 1), yy = y + (k >> 1);
                const double u = (xx - cx) / zoom + cx + panX, v = (yy - cy) / zoom + cy + panY;
                double o[3];
                landscape(u, v, o);
                // Two moving objects: a ball crossing and a box entering from the left.
                const double bx = 0.15 * w + 4.0 * n, by = 0.6 * h - 2.0 * n;
                if ((xx - bx) * (xx - bx) + (yy - by) * (yy - by) < 0.01 * w * w) {
                    o[0] = 200 - 60 * ((yy - by) / (0.1 * w)) + 10 * valueNoise(xx / 3.0, yy / 3.0, 5);
                    o[1] = 90;
                    o[2] = 180;
                }
                const double rx = -0.2 * w + 6.0 * n, ry = 0.25 * h;
                if (xx > rx && xx < rx + 0.15 * w && yy > ry && yy < ry + 0.12 * h) {
                    o[0] = ((static_cast<int>(xx - rx) / 6 + static_cast<int>(yy - ry) / 6) & 1) ? 30 : 210;
                    o[1] = 160;
                    o[2] = 100;
                }
                py[static_cast<std::size_t>(yy) * w + xx] = clip(o[0]);
                cbs += o[1];
                crs += o[2];
            }
            pu[static_cast<std::size_t>(y / 2) * (w / 2) + x / 2] = clip(cbs / 4);
            pv[static_cast<std::size_t>(y / 2) * (w / 2) + x / 2] = clip(crs / 4);
        }
}

void le32(std::FILE* f, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) std::fputc(static_cast<int>((v >> (8 * i)) & 255), f);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 6 && std::string(argv[1]) == "gen") {
        const int w = std::atoi(argv[2]), h = std::atoi(argv[3]), n = std::atoi(argv[4]);
        std::FILE* out = std::fopen(argv[5], "wb");
        if (!out || w <= 0 || h <= 0 || (w & 1) || (h & 1)) return 1;
        std::vector<unsigned char> f;
        for (int i = 0; i < n; ++i) {
            makeFrame(w, h, i, f);
            std::fwrite(f.data(), 1, f.size(), out);
        }
        std::fclose(out);
        return 0;
    }
    if (argc >= 8 && std::string(argv[1]) == "enc") {
        asfw::VideoSettings s;
        s.width = std::atoi(argv[2]);
        s.height = std::atoi(argv[3]);
        s.complexity = std::atoi(argv[4]);
        s.frameDuration = 400000;
        s.maxKeyFrameSpacing = argc >= 9 ? static_cast<std::int64_t>(std::atof(argv[8]) * 1e7) : 40000000;
        asfw::Wmv9EncoderOptions o;
        o.pqindex = std::atoi(argv[5]);
        std::string error;
        auto enc = asfw::createWmv9EncoderWithOptions(s, o, &error);
        if (!enc) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        std::FILE* in = std::fopen(argv[6], "rb");
        std::FILE* out = std::fopen(argv[7], "wb");
        if (!in || !out) return 1;
        const std::size_t frameSize = static_cast<std::size_t>(s.width) * s.height * 3 / 2;
        std::vector<unsigned char> frame(frameSize);
        std::vector<asfw::MediaObject> objects;
        // ASFW_BENCH_STATS=1: macroblock kinds of the P pictures on stderr.
        const bool showStats = std::getenv("ASFW_BENCH_STATS") != nullptr;
        long early = 0, skipped = 0, inter = 0, intra = 0;
        while (std::fread(frame.data(), 1, frameSize, in) == frameSize) {
            asfw::MediaObjects o2;
            if (!enc->encode(frame.data(), frameSize, static_cast<std::int64_t>(objects.size()) * s.frameDuration, o2))
                return 1;
            for (auto& m : o2) objects.push_back(std::move(m));
            if (showStats && !enc->lastPictureWasKey()) {
                skipped += enc->inter().lastStats().skipped;
                early += enc->inter().lastStats().earlySkipped;
                inter += enc->inter().lastStats().inter;
                intra += enc->inter().lastStats().intra;
            }
        }
        if (showStats) std::fprintf(stderr, "macroblocks: skipped %ld (early %ld) inter %ld intra %ld\n", skipped, early, inter,
                                    intra);
        // RCV (SMPTE 421M annex L layout).
        const std::vector<std::uint8_t> header = enc->codecData();
        le32(out, static_cast<std::uint32_t>(objects.size()) | 0xC5000000u);
        le32(out, 4);
        for (int i = 0; i < 4; ++i) std::fputc(header[static_cast<std::size_t>(i)], out);
        le32(out, static_cast<std::uint32_t>(s.height));
        le32(out, static_cast<std::uint32_t>(s.width));
        le32(out, 12);
        le32(out, 0x80000000u);
        le32(out, 0);
        le32(out, 25);
        std::size_t bytes = 0;
        int keys = 0;
        for (std::size_t i = 0; i < objects.size(); ++i) {
            le32(out, static_cast<std::uint32_t>(objects[i].data.size()) | (objects[i].keyFrame ? 0x80000000u : 0u));
            le32(out, static_cast<std::uint32_t>(i * 40));
            std::fwrite(objects[i].data.data(), 1, objects[i].data.size(), out);
            bytes += objects[i].data.size();
            keys += objects[i].keyFrame ? 1 : 0;
        }
        std::fclose(out);
        std::fclose(in);
        std::printf("%zu %zu %d\n", objects.size(), bytes, keys);
        return 0;
    }
    std::fprintf(stderr, "usage: vc1_inter_encode gen W H FRAMES out.yuv | enc W H COMPLEXITY PQINDEX in.yuv out.rcv [KEYSEC]\n");
    return 2;
}
