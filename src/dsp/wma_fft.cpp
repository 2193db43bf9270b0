#include "dsp/wma_fft.h"

#include <cmath>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ASFW_FFT_AVX2 1
#include <immintrin.h>
#endif

namespace asfw {

namespace {

constexpr double kPi = 3.14159265358979323846;

// One radix-4 butterfly at offsets p, p+q, p+2q, p+3q with twiddles
// (w1, w2, w3). Outputs go to the quarters in the order that leaves the
// whole transform bit-reversed: y0, y2 w^2j, y1 w^j, y3 w^3j.
inline void butterfly4(float* re, float* im, int p, int q, float w1r, float w1i, float w2r, float w2i, float w3r,
                       float w3i)
{
    const float ar = re[p], ai = im[p];
    const float br = re[p + q], bi = im[p + q];
    const float cr = re[p + 2 * q], ci = im[p + 2 * q];
    const float dr = re[p + 3 * q], di = im[p + 3 * q];
    const float t0r = ar + cr, t0i = ai + ci;
    const float t1r = ar - cr, t1i = ai - ci;
    const float t2r = br + dr, t2i = bi + di;
    const float t3r = br - dr, t3i = bi - di;
    // y0 = t0 + t2, y2 = t0 - t2, y1 = t1 - i t3, y3 = t1 + i t3
    const float y2r = t0r - t2r, y2i = t0i - t2i;
    const float y1r = t1r + t3i, y1i = t1i - t3r;
    const float y3r = t1r - t3i, y3i = t1i + t3r;
    re[p] = t0r + t2r;
    im[p] = t0i + t2i;
    re[p + q] = y2r * w2r - y2i * w2i;
    im[p + q] = y2r * w2i + y2i * w2r;
    re[p + 2 * q] = y1r * w1r - y1i * w1i;
    im[p + 2 * q] = y1r * w1i + y1i * w1r;
    re[p + 3 * q] = y3r * w3r - y3i * w3i;
    im[p + 3 * q] = y3r * w3i + y3i * w3r;
}

void radix2Plain(float* re, float* im, int m, const float* tw)
{
    const int h = m / 2;
    for (int j = 0; j < h; ++j) {
        const float ar = re[j], ai = im[j], br = re[j + h], bi = im[j + h];
        const float dr = ar - br, di = ai - bi;
        re[j] = ar + br;
        im[j] = ai + bi;
        re[j + h] = dr * tw[j] - di * tw[h + j];
        im[j + h] = dr * tw[h + j] + di * tw[j];
    }
}

void radix4StagePlain(float* re, float* im, int m, int len, const float* tw)
{
    const int q = len / 4;
    for (int s = 0; s < m; s += len)
        for (int j = 0; j < q; ++j)
            butterfly4(re, im, s + j, q, tw[j], tw[q + j], tw[2 * q + j], tw[3 * q + j], tw[4 * q + j], tw[5 * q + j]);
}

// The last radix-4 stage (len 4): all twiddles are 1.
void lastStagePlain(float* re, float* im, int m)
{
    for (int s = 0; s < m; s += 4) {
        const float ar = re[s], ai = im[s], br = re[s + 1], bi = im[s + 1];
        const float cr = re[s + 2], ci = im[s + 2], dr = re[s + 3], di = im[s + 3];
        const float t0r = ar + cr, t0i = ai + ci, t1r = ar - cr, t1i = ai - ci;
        const float t2r = br + dr, t2i = bi + di, t3r = br - dr, t3i = bi - di;
        re[s] = t0r + t2r;
        im[s] = t0i + t2i;
        re[s + 1] = t0r - t2r;
        im[s + 1] = t0i - t2i;
        re[s + 2] = t1r + t3i;
        im[s + 2] = t1i - t3r;
        re[s + 3] = t1r - t3i;
        im[s + 3] = t1i + t3r;
    }
}

#ifdef ASFW_FFT_AVX2
__attribute__((target("avx2,fma"))) void radix2Avx2(float* re, float* im, int m, const float* tw)
{
    const int h = m / 2;
    if (h % 8 != 0) {
        radix2Plain(re, im, m, tw);
        return;
    }
    for (int j = 0; j < h; j += 8) {
        const __m256 ar = _mm256_loadu_ps(re + j), ai = _mm256_loadu_ps(im + j);
        const __m256 br = _mm256_loadu_ps(re + j + h), bi = _mm256_loadu_ps(im + j + h);
        const __m256 wr = _mm256_loadu_ps(tw + j), wi = _mm256_loadu_ps(tw + h + j);
        const __m256 dr = _mm256_sub_ps(ar, br), di = _mm256_sub_ps(ai, bi);
        _mm256_storeu_ps(re + j, _mm256_add_ps(ar, br));
        _mm256_storeu_ps(im + j, _mm256_add_ps(ai, bi));
        _mm256_storeu_ps(re + j + h, _mm256_fmsub_ps(dr, wr, _mm256_mul_ps(di, wi)));
        _mm256_storeu_ps(im + j + h, _mm256_fmadd_ps(dr, wi, _mm256_mul_ps(di, wr)));
    }
}

__attribute__((target("avx2,fma"))) void radix4StageAvx2(float* re, float* im, int m, int len, const float* tw)
{
    const int q = len / 4;
    if (q % 8 != 0) {
        radix4StagePlain(re, im, m, len, tw);
        return;
    }
    for (int s = 0; s < m; s += len) {
        float* r0 = re + s;
        float* i0 = im + s;
        for (int j = 0; j < q; j += 8) {
            const __m256 ar = _mm256_loadu_ps(r0 + j), ai = _mm256_loadu_ps(i0 + j);
            const __m256 br = _mm256_loadu_ps(r0 + q + j), bi = _mm256_loadu_ps(i0 + q + j);
            const __m256 cr = _mm256_loadu_ps(r0 + 2 * q + j), ci = _mm256_loadu_ps(i0 + 2 * q + j);
            const __m256 dr = _mm256_loadu_ps(r0 + 3 * q + j), di = _mm256_loadu_ps(i0 + 3 * q + j);
            const __m256 t0r = _mm256_add_ps(ar, cr), t0i = _mm256_add_ps(ai, ci);
            const __m256 t1r = _mm256_sub_ps(ar, cr), t1i = _mm256_sub_ps(ai, ci);
            const __m256 t2r = _mm256_add_ps(br, dr), t2i = _mm256_add_ps(bi, di);
            const __m256 t3r = _mm256_sub_ps(br, dr), t3i = _mm256_sub_ps(bi, di);
            const __m256 y2r = _mm256_sub_ps(t0r, t2r), y2i = _mm256_sub_ps(t0i, t2i);
            const __m256 y1r = _mm256_add_ps(t1r, t3i), y1i = _mm256_sub_ps(t1i, t3r);
            const __m256 y3r = _mm256_sub_ps(t1r, t3i), y3i = _mm256_add_ps(t1i, t3r);
            const __m256 w1r = _mm256_loadu_ps(tw + j), w1i = _mm256_loadu_ps(tw + q + j);
            const __m256 w2r = _mm256_loadu_ps(tw + 2 * q + j), w2i = _mm256_loadu_ps(tw + 3 * q + j);
            const __m256 w3r = _mm256_loadu_ps(tw + 4 * q + j), w3i = _mm256_loadu_ps(tw + 5 * q + j);
            _mm256_storeu_ps(r0 + j, _mm256_add_ps(t0r, t2r));
            _mm256_storeu_ps(i0 + j, _mm256_add_ps(t0i, t2i));
            _mm256_storeu_ps(r0 + q + j, _mm256_fmsub_ps(y2r, w2r, _mm256_mul_ps(y2i, w2i)));
            _mm256_storeu_ps(i0 + q + j, _mm256_fmadd_ps(y2r, w2i, _mm256_mul_ps(y2i, w2r)));
            _mm256_storeu_ps(r0 + 2 * q + j, _mm256_fmsub_ps(y1r, w1r, _mm256_mul_ps(y1i, w1i)));
            _mm256_storeu_ps(i0 + 2 * q + j, _mm256_fmadd_ps(y1r, w1i, _mm256_mul_ps(y1i, w1r)));
            _mm256_storeu_ps(r0 + 3 * q + j, _mm256_fmsub_ps(y3r, w3r, _mm256_mul_ps(y3i, w3i)));
            _mm256_storeu_ps(i0 + 3 * q + j, _mm256_fmadd_ps(y3r, w3i, _mm256_mul_ps(y3i, w3r)));
        }
    }
}

// The last two radix-4 stages (len 16 then len 4) of eight consecutive
// 16-point blocks at a time would need transposes; instead the len-16
// stage runs four butterflies per block in 128-bit lanes.
__attribute__((target("avx2,fma"))) void stage16Avx2(float* re, float* im, int m, const float* tw)
{
    const __m128 w1r = _mm_loadu_ps(tw), w1i = _mm_loadu_ps(tw + 4);
    const __m128 w2r = _mm_loadu_ps(tw + 8), w2i = _mm_loadu_ps(tw + 12);
    const __m128 w3r = _mm_loadu_ps(tw + 16), w3i = _mm_loadu_ps(tw + 20);
    for (int s = 0; s < m; s += 16) {
        float* r0 = re + s;
        float* i0 = im + s;
        const __m128 ar = _mm_loadu_ps(r0), ai = _mm_loadu_ps(i0);
        const __m128 br = _mm_loadu_ps(r0 + 4), bi = _mm_loadu_ps(i0 + 4);
        const __m128 cr = _mm_loadu_ps(r0 + 8), ci = _mm_loadu_ps(i0 + 8);
        const __m128 dr = _mm_loadu_ps(r0 + 12), di = _mm_loadu_ps(i0 + 12);
        const __m128 t0r = _mm_add_ps(ar, cr), t0i = _mm_add_ps(ai, ci);
        const __m128 t1r = _mm_sub_ps(ar, cr), t1i = _mm_sub_ps(ai, ci);
        const __m128 t2r = _mm_add_ps(br, dr), t2i = _mm_add_ps(bi, di);
        const __m128 t3r = _mm_sub_ps(br, dr), t3i = _mm_sub_ps(bi, di);
        const __m128 y2r = _mm_sub_ps(t0r, t2r), y2i = _mm_sub_ps(t0i, t2i);
        const __m128 y1r = _mm_add_ps(t1r, t3i), y1i = _mm_sub_ps(t1i, t3r);
        const __m128 y3r = _mm_sub_ps(t1r, t3i), y3i = _mm_add_ps(t1i, t3r);
        _mm_storeu_ps(r0, _mm_add_ps(t0r, t2r));
        _mm_storeu_ps(i0, _mm_add_ps(t0i, t2i));
        _mm_storeu_ps(r0 + 4, _mm_fmsub_ps(y2r, w2r, _mm_mul_ps(y2i, w2i)));
        _mm_storeu_ps(i0 + 4, _mm_fmadd_ps(y2r, w2i, _mm_mul_ps(y2i, w2r)));
        _mm_storeu_ps(r0 + 8, _mm_fmsub_ps(y1r, w1r, _mm_mul_ps(y1i, w1i)));
        _mm_storeu_ps(i0 + 8, _mm_fmadd_ps(y1r, w1i, _mm_mul_ps(y1i, w1r)));
        _mm_storeu_ps(r0 + 12, _mm_fmsub_ps(y3r, w3r, _mm_mul_ps(y3i, w3i)));
        _mm_storeu_ps(i0 + 12, _mm_fmadd_ps(y3r, w3i, _mm_mul_ps(y3i, w3r)));
    }
}

bool detectAvx2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}
#endif

}  // namespace

ComplexFft::ComplexFft(int m) : m_(m)
{
    int bits = 0;
    while ((1 << bits) < m) ++bits;
    radix2First_ = (bits & 1) != 0;
    if (radix2First_) {
        const int h = m / 2;
        tw2_.resize(static_cast<std::size_t>(2 * h));
        for (int j = 0; j < h; ++j) {
            tw2_[static_cast<std::size_t>(j)] = static_cast<float>(std::cos(-2.0 * kPi * j / m));
            tw2_[static_cast<std::size_t>(h + j)] = static_cast<float>(std::sin(-2.0 * kPi * j / m));
        }
    }
    for (int len = radix2First_ ? m / 2 : m; len >= 4; len /= 4) {
        const int q = len / 4;
        for (int r = 1; r <= 3; ++r) {
            for (int j = 0; j < q; ++j) tw_.push_back(static_cast<float>(std::cos(-2.0 * kPi * r * j / len)));
            for (int j = 0; j < q; ++j) tw_.push_back(static_cast<float>(std::sin(-2.0 * kPi * r * j / len)));
        }
    }
    rev_.resize(static_cast<std::size_t>(m));
    for (int i = 0; i < m; ++i) {
        int r = 0;
        for (int b = 0; b < bits; ++b)
            if (i & (1 << b)) r |= 1 << (bits - 1 - b);
        rev_[static_cast<std::size_t>(i)] = r;
    }
}

bool ComplexFft::usesAvx2()
{
#ifdef ASFW_FFT_AVX2
    static const bool has = detectAvx2();
    return has;
#else
    return false;
#endif
}

void ComplexFft::forwardPlain(float* re, float* im) const
{
    const int m = m_;
    if (radix2First_) radix2Plain(re, im, m, tw2_.data());
    const float* tw = tw_.data();
    for (int len = radix2First_ ? m / 2 : m; len > 4; len /= 4) {
        radix4StagePlain(re, im, m, len, tw);
        tw += 6 * (len / 4);
    }
    if (m >= 4) lastStagePlain(re, im, m);
}

void ComplexFft::forward(float* re, float* im) const
{
#ifdef ASFW_FFT_AVX2
    if (usesAvx2()) {
        const int m = m_;
        if (radix2First_) radix2Avx2(re, im, m, tw2_.data());
        const float* tw = tw_.data();
        for (int len = radix2First_ ? m / 2 : m; len > 4; len /= 4) {
            if (len == 16) stage16Avx2(re, im, m, tw);
            else radix4StageAvx2(re, im, m, len, tw);
            tw += 6 * (len / 4);
        }
        if (m >= 4) lastStagePlain(re, im, m);
        return;
    }
#endif
    forwardPlain(re, im);
}

void fftReference(const float* re, const float* im, double* outRe, double* outIm, int m)
{
    for (int k = 0; k < m; ++k) {
        double sr = 0, si = 0;
        for (int j = 0; j < m; ++j) {
            const double a = -2.0 * kPi * static_cast<double>((static_cast<long long>(j) * k) % m) / m;
            const double c = std::cos(a), s = std::sin(a);
            sr += re[j] * c - im[j] * s;
            si += re[j] * s + im[j] * c;
        }
        outRe[k] = sr;
        outIm[k] = si;
    }
}

}  // namespace asfw
