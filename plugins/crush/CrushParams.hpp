// Parameter indices and ranges shared by the Zivaz engine and editor.
#pragma once

#include <cstdint>

namespace DISTRHO {

enum CrushParam : uint32_t {
    kParamDownsample = 0,
    kParamNoiseBias,
    kParamInputNoise,
    kParamOutputNoise,
    kParamDistort,
    kParamPostClip,
    kParamCount
};

inline constexpr float kParamMin[kParamCount] = { 1, 0, 0, 0, 0, 0 };
inline constexpr float kParamMax[kParamCount] = { 16, 1, 1, 1, 1, 1 };
inline constexpr float kParamDefault[kParamCount] = { 1, 0.5f, 0, 0, 0, 0 };

} // namespace DISTRHO
