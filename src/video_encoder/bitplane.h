// Bitplane coding of per-macroblock flags (SMPTE 421M, bitplane coding),
// used for the skipped-macroblock plane of P pictures. Every mode the
// syntax offers is priced and the cheapest chosen: raw (one bit per
// macroblock inside the macroblock layer), Norm-2, Diff-2, Norm-6, Diff-6,
// row-skip and column-skip, each with or without inversion.
#ifndef ASFWRITER_VIDEO_ENCODER_BITPLANE_H
#define ASFWRITER_VIDEO_ENCODER_BITPLANE_H

#include "bitwriter/bit_writer.h"
#include "tables/vc1_bitplane_tables.h"

#include <cstdint>
#include <vector>

namespace asfw {

struct Vc1BitplaneChoice {
    Vc1Imode mode = Vc1Imode::Raw;
    bool invert = false;
    // Bits of the picture-layer part (INVERT, IMODE and the coded plane);
    // for raw mode the plane's bits go into the macroblock layer instead
    // and are counted in `macroblockBits`.
    int headerBits = 0;
    int macroblockBits = 0;
    int totalBits() const { return headerBits + macroblockBits; }
};

class Vc1Bitplane {
public:
    Vc1Bitplane(int width, int height) : width_(width), height_(height), bits_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0) {}
    int width() const { return width_; }
    int height() const { return height_; }
    std::uint8_t get(int x, int y) const { return bits_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x)]; }
    void set(int x, int y, bool v) { bits_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x)] = v ? 1 : 0; }

    // Cheapest coding; `allowRaw` false excludes raw mode.
    Vc1BitplaneChoice choose(bool allowRaw = true) const;
    // Bits of one mode/inversion.
    int cost(Vc1Imode mode, bool invert) const;

    // Picture-layer part: INVERT, IMODE and (except raw) the plane.
    void write(BitWriter& w, const Vc1BitplaneChoice& c) const;
    void write(BitCounter& w, const Vc1BitplaneChoice& c) const;

private:
    template <class W>
    void emit(W& w, Vc1Imode mode, bool invert) const;
    template <class W>
    void emitPlane(W& w, const std::vector<std::uint8_t>& p, Vc1Imode mode) const;
    std::vector<std::uint8_t> coded(Vc1Imode mode, bool invert) const;

    int width_, height_;
    std::vector<std::uint8_t> bits_;
};

}  // namespace asfw

#endif
