// Parameter indices and ranges shared by the Radeda engine and editor.
#pragma once

#include <cstdint>

namespace DISTRHO {

enum RepeatParam : uint32_t {
    kParamActive = 0,
    kParamBpm,
    kParamBeats,
    kParamDivision,
    kParamRetrigger,
    kParamAttack,
    kParamHold,
    kParamRelease,
    kParamVarispeed,
    kParamSpeed,
    kParamCount
};

inline constexpr float kParamMin[kParamCount] = { 0, 10, 1, 1, 0, 0, 0, 0, 0, 0.25f };
inline constexpr float kParamMax[kParamCount] = { 1, 480, 4, 16, 1, 1, 1, 1, 1, 4 };
inline constexpr float kParamDefault[kParamCount] = { 0, 100, 2, 4, 0, 0, 1, 1, 0, 1 };

} // namespace DISTRHO
