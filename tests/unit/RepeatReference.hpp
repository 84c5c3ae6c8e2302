// A direct, unoptimised transcription of the beat-repeat algorithm, used to
// check that the optimised engine produces identical output.
#pragma once

#include <cstdint>
#include <vector>

struct RepeatReference
{
    explicit RepeatReference(double sampleRate);
    void setParameterValue(uint32_t index, float value);
    void sampleRateChanged(double rate);
    void activate();
    void run(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames);

    float values[10] {};
    float prevSpeed = 1.0f;
    std::vector<float> bufL, bufR;  // capacity plus a few zero guard samples
    uint32_t capacity = 0;
    double sampleRate = 0.0, beatLength = 0.0, sliceLength = 0.0, playPos = 0.0;
    uint32_t writePos = 0;
    bool wrapped = false;
    uint32_t bpmInt = 0, beatsInt = 0, divisionInt = 0;
    float attackStep = 1.0f, releaseStep = 1.0f, envelope = 1.0f;
    int32_t latch = 0;

private:
    float used(uint32_t index) const;
    void recompute();
};
