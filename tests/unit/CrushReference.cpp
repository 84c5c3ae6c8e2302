#include "CrushReference.hpp"

#include <cmath>

namespace {
constexpr float kDef[6] = { 1, 0.5f, 0, 0, 0, 0 };

float softClip(float x)
{
    if (x < -3.0f) return -1.0f;
    if (x > 3.0f) return 1.0f;
    return ((27.0f + x * x) * x) / (x * x * 9.0f + 27.0f);
}
} // namespace

CrushReference::CrushReference()
{
    noiseState = 1;
    for (uint32_t i = 0; i < 6; ++i)
        setParameterValue(i, kDef[i]);
    activate();
}

float CrushReference::used(uint32_t i) const
{
    return std::isfinite(values[i]) ? values[i] : kDef[i];
}

uint32_t CrushReference::holdFactor() const
{
    const float d = values[0];
    if (!(d >= 1.0f)) return 1;
    if (d >= 4294967296.0f) return 4294967295u;
    return static_cast<uint32_t>(d);
}

void CrushReference::setParameterValue(uint32_t i, float v)
{
    if (i < 6) values[i] = v;
}

void CrushReference::activate()
{
    for (uint32_t i = 1; i < 6; ++i)
        prev[i] = used(i);
    heldL = heldR = 0.0f;
    frameCounter = 0;
}

float CrushReference::nextRandom()
{
    noiseState = noiseState * 24691u + 1103515245u;
    return static_cast<float>(noiseState) * 0x1p-32f;
}

void CrushReference::run(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames)
{
    if (frames > 0)
    {
        float start[6], end[6];
        for (uint32_t k = 1; k < 6; ++k) { start[k] = prev[k]; end[k] = used(k); }
        const auto ramp = [&](uint32_t k, float t) { return start[k] + (end[k] - start[k]) * t; };
        const auto noise = [&](float x, float amount, float t) {
            const float r = nextRandom();
            const float rb = (r - start[1]) - (end[1] - start[1]) * t;
            return amount * (x + rb * (x * x)) + (1.0f - amount) * x;
        };
        for (uint32_t i = 0; i < frames; ++i)
        {
            const float t = static_cast<float>(i) / static_cast<float>(frames);
            const uint32_t n = holdFactor();
            const uint32_t c = frameCounter++;
            const float x[2] = { inL[i], inR[i] };
            if (c % n == 0)
            {
                float* held[2] = { &heldL, &heldR };
                for (int ch = 0; ch < 2; ++ch)
                {
                    const float d = ramp(4, t);
                    const float dist = (1.0f - d) * x[ch] + 2.0f * d * softClip(x[ch]);
                    *held[ch] = noise(dist, ramp(2, t), t);
                }
            }
            float* out[2] = { outL + i, outR + i };
            const float held[2] = { heldL, heldR };
            for (int ch = 0; ch < 2; ++ch)
            {
                const float p = ramp(5, t);
                const float clipped = (1.0f - p) * held[ch] + p * softClip(held[ch]);
                *out[ch] = noise(clipped, ramp(3, t), t);
            }
        }
    }
    for (uint32_t k = 1; k < 6; ++k)
        prev[k] = used(k);
}
