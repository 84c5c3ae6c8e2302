// A direct, unoptimised transcription of the sample-rate-reduction algorithm,
// frame by frame, used to check that the engine produces identical output.
#pragma once

#include <cstdint>

struct CrushReference
{
    CrushReference();
    void setParameterValue(uint32_t index, float value);
    void activate();
    void run(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames);

    // Same order and meaning as the engine's fields.
    float values[6] {};   // Downsample, Noise Bias, Input Noise, Output Noise, Distort, Post Clip
    float prev[6] {};     // ramp starts; [0] unused
    uint32_t noiseState = 1;
    float heldL = 0.0f, heldR = 0.0f;
    uint32_t frameCounter = 0;

    float nextRandom();

private:
    float used(uint32_t index) const;
    uint32_t holdFactor() const;
};
