// Pictures as the encoder holds them: three 8-bit planes covering whole
// macroblocks, with a replicated border for motion compensation.
#ifndef ASFWRITER_VIDEO_ENCODER_VC1_FRAME_H
#define ASFWRITER_VIDEO_ENCODER_VC1_FRAME_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace asfw::vc1 {

struct Plane {
    int width = 0;    // coded width (whole macroblocks)
    int height = 0;   // coded height
    int border = 0;   // replicated samples on every side
    std::ptrdiff_t stride = 0;
    std::vector<std::uint8_t> storage;

    void allocate(int w, int h, int borderSamples);
    std::uint8_t* row(int y) { return storage.data() + origin() + static_cast<std::ptrdiff_t>(y) * stride; }
    const std::uint8_t* row(int y) const
    {
        return storage.data() + origin() + static_cast<std::ptrdiff_t>(y) * stride;
    }
    std::uint8_t* at(int x, int y) { return row(y) + x; }
    const std::uint8_t* at(int x, int y) const { return row(y) + x; }

    // Replicates the samples of the area [0, areaWidth) x [0, areaHeight)
    // into everything outside it (the rest of the coded area and the border).
    void extendFrom(int areaWidth, int areaHeight);

private:
    std::ptrdiff_t origin() const { return static_cast<std::ptrdiff_t>(border) * stride + border; }
};

struct Frame {
    int width = 0;     // display size (even)
    int height = 0;
    int mbWidth = 0;   // macroblocks
    int mbHeight = 0;
    Plane luma, cb, cr;

    // Luma border 32 samples, chroma 16 (enough for unrestricted motion
    // vectors of the Main profile: the decoder clamps references to one
    // macroblock outside the picture).
    void allocate(int displayWidth, int displayHeight);

    // Copies an I420 frame of the display size in and pads it to whole
    // macroblocks by replicating the last column and row.
    void loadI420(const std::uint8_t* data);
    // Writes the display area as I420 (width*height*3/2 bytes).
    void storeI420(std::uint8_t* data) const;
    std::vector<std::uint8_t> toI420() const;

    Plane& plane(int index) { return index == 0 ? luma : (index == 1 ? cb : cr); }
    const Plane& plane(int index) const { return index == 0 ? luma : (index == 1 ? cb : cr); }
};

}  // namespace asfw::vc1

#endif
