#include "RepeatReference.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
constexpr float kMin[10] = { 0, 10, 1, 1, 0, 0, 0, 0, 0, 0.25f };
constexpr float kMax[10] = { 1, 480, 4, 16, 1, 1, 1, 1, 1, 4 };
constexpr float kDef[10] = { 0, 100, 2, 4, 0, 0, 1, 1, 0, 1 };
constexpr uint32_t kGuard = 8;

uint32_t asInt(float v, int i)
{
    if (!(v >= kMin[i])) return static_cast<uint32_t>(kMin[i]);
    if (v >= kMax[i]) return static_cast<uint32_t>(kMax[i]);
    return static_cast<uint32_t>(v);
}
} // namespace

RepeatReference::RepeatReference(double rate)
{
    for (uint32_t i = 0; i < 10; ++i)
        setParameterValue(i, kDef[i]);
    prevSpeed = used(9);
    sampleRateChanged(rate);
    writePos = 0; playPos = 0.0; wrapped = false; envelope = 1.0f;
}

float RepeatReference::used(uint32_t i) const
{
    const float v = values[i];
    if (!std::isfinite(v)) return kDef[i];
    return std::min(std::max(v, kMin[i]), kMax[i]);
}

void RepeatReference::recompute()
{
    beatLength = (60.0 / bpmInt) * sampleRate;
    sliceLength = beatsInt * beatLength / divisionInt;
    const auto step = [this](float t) {
        return t == 0.0f ? 1.0f : static_cast<float>(1.0 / ((t * 0.1f) * sampleRate));
    };
    attackStep = step(used(5));
    releaseStep = step(used(7));
}

void RepeatReference::setParameterValue(uint32_t i, float v)
{
    if (i >= 10) return;
    values[i] = v;
    if (i >= 1 && i <= 3) { bpmInt = asInt(values[1], 1); beatsInt = asInt(values[2], 2); divisionInt = asInt(values[3], 3); }
    if (i == 4) {
        if (v >= 1.0f && latch == 0) {
            std::fill(bufL.begin(), bufL.end(), 0.0f);
            std::fill(bufR.begin(), bufR.end(), 0.0f);
            writePos = 0; playPos = 0.0; latch = 1; wrapped = false;
        } else {
            latch = 0;
        }
    }
    recompute();
}

void RepeatReference::sampleRateChanged(double rate)
{
    if (!(rate >= 1.0)) rate = 1.0;
    if (rate > 1536000.0) rate = 1536000.0;
    capacity = static_cast<uint32_t>(std::ceil(rate) * 24.0);
    // Guard samples stay zero: nothing records into them.
    bufL.resize(capacity + kGuard, 0.0f);
    bufR.resize(capacity + kGuard, 0.0f);
    std::fill(bufL.begin() + capacity, bufL.end(), 0.0f);
    std::fill(bufR.begin() + capacity, bufR.end(), 0.0f);
    sampleRate = rate;
    recompute();
}

void RepeatReference::activate() { writePos = 0; playPos = 0.0; }

void RepeatReference::run(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames)
{
    const float speed = used(9);
    if (!(values[0] >= 1.0f)) {
        writePos = 0; wrapped = false; playPos = 0.0; envelope = 1.0f; latch = 0;
        std::fill(bufL.begin(), bufL.end(), 0.0f);
        std::fill(bufR.begin(), bufR.end(), 0.0f);
        for (uint32_t i = 0; i < frames; ++i) { outL[i] = inL[i]; outR[i] = inR[i]; }
        prevSpeed = speed;
        return;
    }
    if (writePos < capacity) {
        const uint32_t n = std::min(capacity - writePos, frames);
        for (uint32_t i = 0; i < n; ++i) { bufL[writePos + i] = inL[i]; bufR[writePos + i] = inR[i]; }
        writePos = frames > std::numeric_limits<uint32_t>::max() - writePos
                 ? std::numeric_limits<uint32_t>::max() : writePos + frames;
    } else {
        writePos = frames > std::numeric_limits<uint32_t>::max() - writePos
                 ? std::numeric_limits<uint32_t>::max() : writePos + frames;
    }
    const float hold = std::max(used(6), 0.1f);
    for (uint32_t i = 0; i < frames; ++i) {
        const float s = (static_cast<float>(i) / static_cast<float>(frames)) * (speed - prevSpeed) + prevSpeed;
        if (values[8] >= 1.0f && (wrapped || s < 1.0f)) {
            float sl = 0.0f, sr = 0.0f;
            for (int j = 0; j < 32; ++j) {
                const uint32_t k = static_cast<uint32_t>(playPos);
                sl += bufL[k] * envelope;
                sr += bufR[k] * envelope;
                playPos += s * 0.03125f;
            }
            outL[i] = sl * 0.03125f;
            outR[i] = sr * 0.03125f;
        } else {
            const uint32_t k = static_cast<uint32_t>(playPos);
            outL[i] = envelope * bufL[k];
            outR[i] = envelope * bufR[k];
            playPos += 1.0;
        }
        if (playPos >= sliceLength) {
            playPos -= sliceLength;
            while (playPos >= sliceLength) playPos -= sliceLength;
            wrapped = true;
            envelope = 0.0f;
        }
        if (playPos <= static_cast<double>(hold) * sliceLength)
            envelope = std::min(envelope + s * attackStep, 1.0f);
        else
            envelope = std::max(envelope - s * releaseStep, 0.0f);
    }
    prevSpeed = speed;
}
