// Benchmark driver for the WMV9 intra coder (every picture an I picture).
//
//   vc1_intra_bench W H FRAMES PATTERN PQINDEX[,PQINDEX...] OUTDIR
//
// Writes OUTDIR/src.yuv (synthetic content: photo, mixed, text, noise,
// gradient), then for each PQINDEX encodes it at 25 frames per second into
// OUTDIR/pq<N>.rcv and prints one line:
//   pq=N bytes=B kbps=K psnr_y=.. psnr_yuv=.. fps=.. cpu_fps=..
// (fps from wall-clock time, cpu_fps from the process's CPU time, which a
// busy machine distorts less)
// bench/vc1_intra.sh compares the figures with FFmpeg's wmv2 (-g 1).
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/video_content.h"
#include "video_encoder/vc1_encoder.h"

namespace {

void le32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

asfw::test::VideoPattern patternFrom(const std::string& name)
{
    using asfw::test::VideoPattern;
    if (name == "mixed") return VideoPattern::Mixed;
    if (name == "text") return VideoPattern::Text;
    if (name == "noise") return VideoPattern::Noise;
    if (name == "gradient") return VideoPattern::Gradient;
    return VideoPattern::Photo;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 7) {
        std::fprintf(stderr, "usage: %s W H FRAMES PATTERN PQ[,PQ...] OUTDIR\n", argv[0]);
        return 2;
    }
    const int width = std::atoi(argv[1]), height = std::atoi(argv[2]), frames = std::atoi(argv[3]);
    const std::string outDir = argv[6];
    const std::size_t frameSize = static_cast<std::size_t>(width) * height * 3 / 2;
    const std::vector<std::uint8_t> clip = asfw::test::makeVideoClip(patternFrom(argv[4]), width, height, frames);
    if (!writeFile(outDir + "/src.yuv", clip)) return 1;

    std::stringstream list(argv[5]);
    std::string item;
    while (std::getline(list, item, ',')) {
        const int pq = std::atoi(item.c_str());
        asfw::VideoSettings settings;
        settings.width = width;
        settings.height = height;
        settings.frameDuration = 400000;
        asfw::Wmv9EncoderOptions options;
        options.pqindex = pq;
        options.intraOnly = true;
        // Experiments: ASFW_BENCH_UNIFORM (0/1), ASFW_BENCH_ROUNDING (intra rounding).
        if (const char* u = std::getenv("ASFW_BENCH_UNIFORM")) options.uniform = std::atoi(u);
        if (const char* r = std::getenv("ASFW_BENCH_ROUNDING")) options.tuning.intraRounding = static_cast<float>(std::atof(r));
        if (const char* l = std::getenv("ASFW_BENCH_LAMBDA")) options.tuning.intraLambda = static_cast<float>(std::atof(l));
        std::string error;
        auto encoder = asfw::createWmv9EncoderWithOptions(settings, options, &error);
        if (!encoder) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        std::vector<std::uint8_t> rcv;
        le32(rcv, static_cast<std::uint32_t>(frames) | 0xC5000000u);
        le32(rcv, 4);
        const std::vector<std::uint8_t> header = encoder->codecData();
        rcv.insert(rcv.end(), header.begin(), header.end());
        le32(rcv, static_cast<std::uint32_t>(height));
        le32(rcv, static_cast<std::uint32_t>(width));
        le32(rcv, 12);
        le32(rcv, 0x80000000u);
        le32(rcv, 0);
        le32(rcv, 25);
        double psnrY = 0, psnrAll = 0, seconds = 0, cpuSeconds = 0;
        std::size_t bytes = 0;
        for (int i = 0; i < frames; ++i) {
            const std::uint8_t* frame = clip.data() + frameSize * static_cast<std::size_t>(i);
            asfw::MediaObjects out;
            const auto t0 = std::chrono::steady_clock::now();
            const std::clock_t c0 = std::clock();
            if (!encoder->encode(frame, frameSize, i * 400000LL, out)) return 1;
            cpuSeconds += static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
            seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            const std::vector<std::uint8_t> rec = encoder->reconstruction().toI420();
            psnrY += asfw::test::psnr(frame, rec.data(), static_cast<std::size_t>(width) * height);
            psnrAll += asfw::test::psnr(frame, rec.data(), frameSize);
            for (const auto& o : out) {
                bytes += o.data.size();
                le32(rcv, static_cast<std::uint32_t>(o.data.size()) | (o.keyFrame ? 0x80000000u : 0u));
                le32(rcv, static_cast<std::uint32_t>(i * 40));
                rcv.insert(rcv.end(), o.data.begin(), o.data.end());
            }
        }
        if (!writeFile(outDir + "/pq" + std::to_string(pq) + ".rcv", rcv)) return 1;
        std::printf("pq=%d bytes=%zu kbps=%.1f psnr_y=%.3f psnr_yuv=%.3f fps=%.1f cpu_fps=%.1f\n", pq, bytes,
                    static_cast<double>(bytes) * 8.0 * 25.0 / frames / 1000.0, psnrY / frames, psnrAll / frames,
                    frames / seconds, frames / cpuSeconds);
    }
    return 0;
}
