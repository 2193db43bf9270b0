// Scene-cut decision from a picture's cheap costs: a picture that motion
// compensation from the previous one cannot predict much better than
// intra coding alone starts a new scene and is coded as a key frame --
// when the picture before it was predictable. Content that no picture
// predicts (noise, fine detail under a fast zoom) is one long scene:
// a key frame on every such picture would cost several times a P picture
// (whose macroblocks choose intra on their own) for nothing.
#ifndef ASFWRITER_VIDEO_ENCODER_SCENE_CUT_H
#define ASFWRITER_VIDEO_ENCODER_SCENE_CUT_H

#include <cstdint>

namespace asfw::vc1 {

struct SceneCutRule {
    // A cut when the best-prediction cost reaches this share of the intra cost.
    double interToIntra = 0.62;
    // No cut closer than this many pictures to the previous key frame.
    int minGap = 4;
};

// `framesSinceKey`: pictures since the last key frame (1 = the one before
// this was a key frame). `previousRatio`: inter cost / intra cost of the
// picture before (0 when there is none).
bool isSceneCut(std::uint64_t intraCost, std::uint64_t interCost, int framesSinceKey, const SceneCutRule& rule,
                double previousRatio = 0);

// inter / intra of a picture's costs (0 for a flat picture).
double interToIntraRatio(std::uint64_t intraCost, std::uint64_t interCost);

// The gap rule for a frame duration in 100 ns (a tenth of a second, at
// least two pictures).
SceneCutRule sceneCutRuleFor(std::int64_t frameDuration);

}  // namespace asfw::vc1

#endif
