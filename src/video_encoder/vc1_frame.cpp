#include "video_encoder/vc1_frame.h"

#include <algorithm>
#include <cstring>

namespace asfw::vc1 {

void Plane::allocate(int w, int h, int borderSamples)
{
    width = w;
    height = h;
    border = borderSamples;
    stride = static_cast<std::ptrdiff_t>(w) + 2 * borderSamples;
    storage.assign(static_cast<std::size_t>(stride) * static_cast<std::size_t>(h + 2 * borderSamples), 0);
}

void Plane::extendFrom(int areaWidth, int areaHeight)
{
    if (areaWidth <= 0 || areaHeight <= 0) return;
    areaWidth = std::min(areaWidth, width);
    areaHeight = std::min(areaHeight, height);
    // Columns to the right and left, for every row of the area.
    for (int y = 0; y < areaHeight; ++y) {
        std::uint8_t* r = row(y);
        std::memset(r + areaWidth, r[areaWidth - 1], static_cast<std::size_t>(width - areaWidth + border));
        std::memset(r - border, r[0], static_cast<std::size_t>(border));
    }
    // Whole rows below and above.
    const std::size_t full = static_cast<std::size_t>(stride);
    for (int y = areaHeight; y < height + border; ++y) std::memcpy(row(y) - border, row(areaHeight - 1) - border, full);
    for (int y = -border; y < 0; ++y) std::memcpy(row(y) - border, row(0) - border, full);
}

void Frame::allocate(int displayWidth, int displayHeight)
{
    width = displayWidth;
    height = displayHeight;
    mbWidth = (displayWidth + 15) / 16;
    mbHeight = (displayHeight + 15) / 16;
    luma.allocate(mbWidth * 16, mbHeight * 16, 32);
    cb.allocate(mbWidth * 8, mbHeight * 8, 16);
    cr.allocate(mbWidth * 8, mbHeight * 8, 16);
}

void Frame::loadI420(const std::uint8_t* data)
{
    const int cw = width / 2, ch = height / 2;
    const std::uint8_t* src = data;
    for (int y = 0; y < height; ++y, src += width) std::memcpy(luma.row(y), src, static_cast<std::size_t>(width));
    for (int y = 0; y < ch; ++y, src += cw) std::memcpy(cb.row(y), src, static_cast<std::size_t>(cw));
    for (int y = 0; y < ch; ++y, src += cw) std::memcpy(cr.row(y), src, static_cast<std::size_t>(cw));
    luma.extendFrom(width, height);
    cb.extendFrom(cw, ch);
    cr.extendFrom(cw, ch);
}

void Frame::storeI420(std::uint8_t* data) const
{
    const int cw = width / 2, ch = height / 2;
    std::uint8_t* dst = data;
    for (int y = 0; y < height; ++y, dst += width) std::memcpy(dst, luma.row(y), static_cast<std::size_t>(width));
    for (int y = 0; y < ch; ++y, dst += cw) std::memcpy(dst, cb.row(y), static_cast<std::size_t>(cw));
    for (int y = 0; y < ch; ++y, dst += cw) std::memcpy(dst, cr.row(y), static_cast<std::size_t>(cw));
}

std::vector<std::uint8_t> Frame::toI420() const
{
    std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3 / 2);
    storeI420(out.data());
    return out;
}

}  // namespace asfw::vc1
