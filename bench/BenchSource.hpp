// Benchmark input: a second of stereo signal at 48 kHz, normal or subnormal,
// handed out block after block.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace quolva::bench {

enum class Input { Normal, Subnormal };
inline const char* inputName(Input i) { return i == Input::Normal ? "normal" : "subnormal"; }

class Source
{
public:
    // Normal input is uniform in [-amplitude, amplitude]; blocks are at most maxBlock frames.
    Source(Input kind, float amplitude, uint32_t maxBlock)
        : fMaxBlock(maxBlock), fLength(48000 + maxBlock), fL(fLength), fR(fLength)
    {
        std::mt19937 rng(kind == Input::Normal ? 1 : 2);
        std::uniform_real_distribution<float> normal(-amplitude, amplitude);
        for (uint32_t i = 0; i < fLength; ++i)
        {
            fL[i] = kind == Input::Normal ? normal(rng) : subnormal(rng);
            fR[i] = kind == Input::Normal ? normal(rng) : subnormal(rng);
        }
    }
    const float* l() const { return fL.data() + fPos; }
    const float* r() const { return fR.data() + fPos; }
    void advance(uint32_t n)
    {
        fPos += n;
        if (fPos + fMaxBlock > fLength)
            fPos = 0;
    }

private:
    // Any subnormal value of either sign: exponent field 0, mantissa not 0.
    static float subnormal(std::mt19937& rng)
    {
        const uint32_t bits = (rng() & 0x807FFFFFu) | 1u;
        float v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    uint32_t fMaxBlock;
    uint32_t fLength;
    std::vector<float> fL, fR;
    uint32_t fPos = 0;
};

} // namespace quolva::bench
