#include "video_encoder/scene_cut.h"

#include <algorithm>

namespace asfw::vc1 {

double interToIntraRatio(std::uint64_t intraCost, std::uint64_t interCost)
{
    return intraCost == 0 ? 0.0 : static_cast<double>(interCost) / static_cast<double>(intraCost);
}

bool isSceneCut(std::uint64_t intraCost, std::uint64_t interCost, int framesSinceKey, const SceneCutRule& rule,
                double previousRatio)
{
    if (framesSinceKey < rule.minGap) return false;
    // Still no prediction where there was none before: the same scene.
    if (previousRatio >= rule.interToIntra) return false;
    // Flat pictures (fades to black, empty frames) carry too little detail
    // for the ratio to mean anything.
    if (intraCost == 0) return false;
    return static_cast<double>(interCost) >= rule.interToIntra * static_cast<double>(intraCost);
}

SceneCutRule sceneCutRuleFor(std::int64_t frameDuration)
{
    SceneCutRule r;
    if (frameDuration > 0) r.minGap = std::max(2, static_cast<int>(1000000 / frameDuration));
    return r;
}

}  // namespace asfw::vc1
