// Bitplane coding: the transmitted plane of each mode and its bits.
#include "video_encoder/bitplane.h"

namespace asfw {

namespace {

bool isDiff(Vc1Imode m) { return m == Vc1Imode::Diff2 || m == Vc1Imode::Diff6; }

}  // namespace

std::vector<std::uint8_t> Vc1Bitplane::coded(Vc1Imode mode, bool invert) const
{
    const int w = width_, h = height_;
    std::vector<std::uint8_t> p(bits_.size());
    auto t = [&](int x, int y) { return static_cast<int>(get(x, y)); };
    if (!isDiff(mode)) {
        for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(bits_[i] ^ (invert ? 1 : 0));
        return p;
    }
    // Differential: each bit against its predictor (left neighbour on the
    // first row, upper one in the first column, otherwise the left one if it
    // agrees with the upper one, else the inversion flag).
    const int inv = invert ? 1 : 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int pred;
            if (x == 0 && y == 0) pred = inv;
            else if (y == 0) pred = t(x - 1, 0);
            else if (x == 0) pred = t(0, y - 1);
            else pred = t(x - 1, y) != t(x, y - 1) ? inv : t(x - 1, y);
            p[static_cast<std::size_t>(y * w + x)] = static_cast<std::uint8_t>(t(x, y) ^ pred);
        }
    return p;
}

template <class W>
void Vc1Bitplane::emitPlane(W& w, const std::vector<std::uint8_t>& p, Vc1Imode mode) const
{
    const int wd = width_, ht = height_;
    auto bit = [&](int x, int y) { return static_cast<std::uint32_t>(p[static_cast<std::size_t>(y * wd + x)]); };
    auto rowSkip = [&](int x0, int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            bool any = false;
            for (int x = x0; x < wd; ++x) any = any || bit(x, y) != 0;
            w.putBit(any);
            if (any)
                for (int x = x0; x < wd; ++x) w.put(bit(x, y), 1);
        }
    };
    auto colSkip = [&](int x0, int x1) {
        for (int x = x0; x < x1; ++x) {
            bool any = false;
            for (int y = 0; y < ht; ++y) any = any || bit(x, y) != 0;
            w.putBit(any);
            if (any)
                for (int y = 0; y < ht; ++y) w.put(bit(x, y), 1);
        }
    };
    switch (mode) {
    case Vc1Imode::Raw:
        break;
    case Vc1Imode::Norm2:
    case Vc1Imode::Diff2: {
        // Raster order as one line; an odd count starts with a single bit.
        const std::size_t n = p.size();
        std::size_t i = 0;
        if (n & 1) {
            w.put(p[0], 1);
            i = 1;
        }
        for (; i < n; i += 2) w.put(kVc1Norm2Vlc[p[i] | (p[i + 1] << 1)]);
        break;
    }
    case Vc1Imode::Norm6:
    case Vc1Imode::Diff6:
        if (ht % 3 == 0 && wd % 3 != 0) {
            // 2 wide x 3 high tiles, leftover first column as column-skip.
            for (int y = 0; y < ht; y += 3)
                for (int x = wd & 1; x < wd; x += 2) {
                    const std::uint32_t v = bit(x, y) | bit(x + 1, y) << 1 | bit(x, y + 1) << 2 |
                                            bit(x + 1, y + 1) << 3 | bit(x, y + 2) << 4 | bit(x + 1, y + 2) << 5;
                    w.put(kVc1Norm6Vlc[v]);
                }
            if (wd & 1) colSkip(0, 1);
        } else {
            // 3 wide x 2 high tiles, leftover columns then leftover first row.
            const int x0 = wd % 3;
            for (int y = ht & 1; y < ht; y += 2)
                for (int x = x0; x < wd; x += 3) {
                    const std::uint32_t v = bit(x, y) | bit(x + 1, y) << 1 | bit(x + 2, y) << 2 |
                                            bit(x, y + 1) << 3 | bit(x + 1, y + 1) << 4 | bit(x + 2, y + 1) << 5;
                    w.put(kVc1Norm6Vlc[v]);
                }
            if (x0) colSkip(0, x0);
            if (ht & 1) rowSkip(x0, 0, 1);
        }
        break;
    case Vc1Imode::RowSkip:
        rowSkip(0, 0, ht);
        break;
    case Vc1Imode::ColSkip:
        colSkip(0, wd);
        break;
    }
}

template <class W>
void Vc1Bitplane::emit(W& w, Vc1Imode mode, bool invert) const
{
    w.putBit(mode == Vc1Imode::Raw ? false : invert);
    w.put(kVc1ImodeVlc[static_cast<int>(mode)]);
    if (mode != Vc1Imode::Raw) emitPlane(w, coded(mode, invert), mode);
}

void Vc1Bitplane::write(BitWriter& w, const Vc1BitplaneChoice& c) const { emit(w, c.mode, c.invert); }
void Vc1Bitplane::write(BitCounter& w, const Vc1BitplaneChoice& c) const { emit(w, c.mode, c.invert); }

int Vc1Bitplane::cost(Vc1Imode mode, bool invert) const
{
    BitCounter c;
    emit(c, mode, invert);
    int bits = static_cast<int>(c.bitCount());
    if (mode == Vc1Imode::Raw) bits += width_ * height_;
    return bits;
}

Vc1BitplaneChoice Vc1Bitplane::choose(bool allowRaw) const
{
    Vc1BitplaneChoice best;
    bool have = false;
    for (int m = 0; m < kVc1ImodeCount; ++m) {
        const Vc1Imode mode = static_cast<Vc1Imode>(m);
        if (mode == Vc1Imode::Raw && !allowRaw) continue;
        for (int inv = 0; inv < (mode == Vc1Imode::Raw ? 1 : 2); ++inv) {
            const int bits = cost(mode, inv != 0);
            if (!have || bits < best.totalBits()) {
                have = true;
                best.mode = mode;
                best.invert = inv != 0;
                best.macroblockBits = mode == Vc1Imode::Raw ? width_ * height_ : 0;
                best.headerBits = bits - best.macroblockBits;
            }
        }
    }
    return best;
}

}  // namespace asfw
