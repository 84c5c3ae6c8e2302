#include "QuolvaRepeat.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

// SSE2 is part of every x86-64 target; elsewhere (or with
// -DQUOLVA_REPEAT_SSE2=0) the same sums are formed by plain scalar code.
#ifndef QUOLVA_REPEAT_SSE2
#if defined(__SSE2__) || defined(_M_X64)
#define QUOLVA_REPEAT_SSE2 1
#else
#define QUOLVA_REPEAT_SSE2 0
#endif
#endif
#if QUOLVA_REPEAT_SSE2
#include <emmintrin.h>
#endif

START_NAMESPACE_DISTRHO

namespace {

constexpr uint32_t kHints[kParamCount] = {
    kParameterIsAutomatable | kParameterIsBoolean,  // Active
    kParameterIsAutomatable | kParameterIsInteger,  // BPM
    kParameterIsAutomatable | kParameterIsInteger,  // Beats
    kParameterIsAutomatable | kParameterIsInteger,  // Division
    kParameterIsAutomatable | kParameterIsTrigger,  // Retrigger (the trigger flag includes boolean)
    kParameterIsAutomatable,                         // Attack
    kParameterIsAutomatable,                         // Hold
    kParameterIsAutomatable,                         // Release
    kParameterIsAutomatable | kParameterIsBoolean,  // Varispeed
    kParameterIsAutomatable | kParameterIsLogarithmic, // Speed
};

constexpr const char* kNames[kParamCount] = {
    "Active", "BPM", "Beats", "Division", "Retrigger",
    "Attack", "Hold", "Release", "Varispeed", "Speed",
};

constexpr const char* kSymbols[kParamCount] = {
    "active", "bpm", "beats", "division", "retrigger",
    "attack", "hold", "release", "varispeed", "speed",
};

// Integer copy of BPM, Beats or Division: truncated toward zero and kept inside
// the declared range (NaN counts as the minimum), so the slice stays finite,
// positive and inside the buffers.
uint32_t integerParam(float value, uint32_t index)
{
    const float lo = kParamMin[index];
    const float hi = kParamMax[index];
    if (!(value >= lo))
        return static_cast<uint32_t>(lo);
    if (value >= hi)
        return static_cast<uint32_t>(hi);
    return static_cast<uint32_t>(value);
}

// Continuous parameter as the engine uses it: limited to its range, a
// non-finite value replaced by the default.
float engineParam(float value, uint32_t index)
{
    if (!std::isfinite(value))
        return kParamDefault[index];
    return std::min(std::max(value, kParamMin[index]), kParamMax[index]);
}

// Parameter changes within range shrink the slice by at most this many times
// the position it can hold (24 s against 1/128 s).
constexpr double kMaxWrapSteps = 65536.0;

uint32_t capacityFor(double sampleRate)
{
    return static_cast<uint32_t>(std::ceil(sampleRate) * QuolvaRepeat::kBufferSeconds);
}

// The averaged read: each output sample is the mean of this many reads.
constexpr int kReads = 32;
// Averaged output samples computed side by side. Each one is a chain of 32
// dependent float additions per channel; interleaving independent samples keeps
// the adder busy instead of waiting for each addition in turn.
constexpr uint32_t kGroup = 4;

// True when the read position pos can advance 32 times by increment (added in
// double) with every addition exact. Then pos + j * increment, computed
// directly, has the same bits as the j-th position of the sequence, and the
// 32 positions no longer wait for each other.
//
// With u the spacing of doubles at the last position hi = pos + 32 * increment:
// if pos and increment are both multiples of u, every position on the way is a
// multiple of u below 2^53 u, hence exactly representable, and so is every sum.
bool exactSteps(double pos, float increment)
{
    if (!(increment > 0.0f) || !(increment <= std::numeric_limits<float>::max()))
        return false;
    const double hi = pos + 32.0 * static_cast<double>(increment);
    // Indices are then formed by the signed 32-bit conversion, which SSE2 vectorises.
    if (!(hi < 2147483648.0))
        return false;
    if (pos == 0.0)
        return true;  // j * increment has at most 29 significant bits
    if (!(pos > 0.0))
        return false;

    uint64_t posBits, hiBits;
    uint32_t incBits;
    std::memcpy(&posBits, &pos, sizeof posBits);
    std::memcpy(&hiBits, &hi, sizeof hiBits);
    std::memcpy(&incBits, &increment, sizeof incBits);
    const uint32_t posExp = static_cast<uint32_t>(posBits >> 52);  // pos > 0: no sign bit
    const uint32_t hiExp = static_cast<uint32_t>(hiBits >> 52);
    const uint32_t incExp = (incBits >> 23) & 0xFFu;
    if (posExp == 0 || incExp == 0)
        return false;  // subnormal
    // u = 2^(hiExp - 1075); the lowest mantissa bit of increment is 2^(incExp - 150).
    if (hiExp > incExp + 925u)
        return false;
    // pos = mantissa * 2^(posExp - 1075): a multiple of u when the mantissa's
    // lowest hiExp - posExp bits are zero.
    const uint32_t shift = hiExp - posExp;
    const uint64_t mantissa = (posBits & ((uint64_t(1) << 52) - 1)) | (uint64_t(1) << 52);
    return shift < 53 && (mantissa & ((uint64_t(1) << shift) - 1)) == 0;
}

// The 32 read positions of one averaged output sample, relative to its first:
// j * increment for j = 0 ... 32, each exact in double.
struct ReadOffsets
{
    float increment = 0.0f;
    double offset[kReads + 1];

    void prepare(float inc)
    {
        if (inc == increment)
            return;
        increment = inc;
        for (int j = 0; j <= kReads; ++j)
            offset[j] = static_cast<double>(j) * static_cast<double>(inc);
    }
};

// Buffer index of each of the 32 reads of one averaged output sample, starting
// at pos and advancing by increment; returns the position after the last
// read. Raises maxIndex to the largest index.
double averagedReadIndices(double pos, float increment, ReadOffsets& offsets, uint32_t* index, uint32_t& maxIndex)
{
    if (exactSteps(pos, increment))
    {
        offsets.prepare(increment);
        for (int j = 0; j < kReads; ++j)
            index[j] = static_cast<uint32_t>(static_cast<int32_t>(pos + offsets.offset[j]));
        maxIndex = std::max(maxIndex, index[kReads - 1]);  // positions rise with j
        return pos + offsets.offset[kReads];
    }
    for (int j = 0; j < kReads; ++j)
    {
        index[j] = static_cast<uint32_t>(pos);
        maxIndex = std::max(maxIndex, index[j]);
        pos += increment;
    }
    return pos;
}

// Means of the 32 reads of kGroup averaged output samples: each sum formed in
// the order of its reads, exactly as one sample at a time would, then
// multiplied by 1/32. Checked: indices at or past recordedEnd read as zero.
// Scaled: every read is multiplied by its sample's gain; unscaled is only used
// when every gain is exactly 1, where x * 1 == x.
template <bool kChecked, bool kScaled>
void averagedMeans(const float* bufL, const float* bufR, uint32_t recordedEnd,
                   const uint32_t (&index)[kGroup][kReads], const float (&gain)[kGroup],
                   float (&meanL)[kGroup], float (&meanR)[kGroup])
{
#if QUOLVA_REPEAT_SSE2
    if (!kChecked)
    {
        // One lane per output sample; the lanes are independent chains, each
        // adding in the same order and precision as the plain loop.
        static_assert(kGroup == 4, "one SSE lane per output sample");
        const auto gather = [](const float* buf, uint32_t k0, uint32_t k1, uint32_t k2, uint32_t k3) {
            const __m128 lo = _mm_unpacklo_ps(_mm_load_ss(buf + k0), _mm_load_ss(buf + k1));
            const __m128 hi = _mm_unpacklo_ps(_mm_load_ss(buf + k2), _mm_load_ss(buf + k3));
            return _mm_movelh_ps(lo, hi);
        };
        const __m128 g = _mm_loadu_ps(gain);
        __m128 l = _mm_setzero_ps();
        __m128 r = _mm_setzero_ps();
        for (int j = 0; j < kReads; ++j)
        {
            const uint32_t k0 = index[0][j], k1 = index[1][j], k2 = index[2][j], k3 = index[3][j];
            __m128 a = gather(bufL, k0, k1, k2, k3);
            __m128 b = gather(bufR, k0, k1, k2, k3);
            if (kScaled)
            {
                a = _mm_mul_ps(a, g);
                b = _mm_mul_ps(b, g);
            }
            l = _mm_add_ps(l, a);
            r = _mm_add_ps(r, b);
        }
        // The four means at once.
        const __m128 scale = _mm_set1_ps(0.03125f);
        _mm_storeu_ps(meanL, _mm_mul_ps(l, scale));
        _mm_storeu_ps(meanR, _mm_mul_ps(r, scale));
        return;
    }
#endif
    for (uint32_t g = 0; g < kGroup; ++g)
    {
        float l = 0.0f;
        float r = 0.0f;
        for (int j = 0; j < kReads; ++j)
        {
            const uint32_t k = index[g][j];
            float a, b;
            if (kChecked)
            {
                a = k < recordedEnd ? bufL[k] : 0.0f;
                b = k < recordedEnd ? bufR[k] : 0.0f;
            }
            else
            {
                a = bufL[k];
                b = bufR[k];
            }
            if (kScaled)
            {
                a = a * gain[g];
                b = b * gain[g];
            }
            l += a;
            r += b;
        }
        meanL[g] = l * 0.03125f;
        meanR[g] = r * 0.03125f;
    }
}

} // namespace

QuolvaRepeat::QuolvaRepeat()
    : Plugin(kParamCount, 0, 0),
      fActive(0), fBpm(0), fBeats(0), fDivision(0), fRetrigger(0),
      fAttack(0), fHold(0), fRelease(0), fVarispeed(0), fSpeed(0),
      fPrevSpeed(1.0f),
      fSampleRate(0.0), fBeatLength(0.0), fWritePos(0), fPlayPos(0.0), fSliceLength(0.0),
      fWrapped(false), fBpmInt(1), fBeatsInt(1), fDivisionInt(1),
      fAttackStep(1.0f), fReleaseStep(1.0f), fEnvelope(1.0f), fRetriggerLatch(0),
      fSpeedUsed(1.0f), fAttackUsed(0.0f), fHoldUsed(1.0f), fReleaseUsed(1.0f),
      fCapacity(0), fRecordedEnd(0)
{
    for (uint32_t i = 0; i < kParamCount; ++i)
        setParameterValue(i, kParamDefault[i]);

    fPrevSpeed = fSpeedUsed;

    sampleRateChanged(getSampleRate());

    fWritePos = 0;
    fPlayPos = 0.0;
    fWrapped = false;
    fEnvelope = 1.0f;
}

QuolvaRepeat::~QuolvaRepeat() = default;

void QuolvaRepeat::initParameter(uint32_t index, Parameter& parameter)
{
    if (index >= kParamCount)
        return;

    parameter.hints = kHints[index];
    parameter.name = kNames[index];
    parameter.symbol = kSymbols[index];
    parameter.ranges.def = kParamDefault[index];
    parameter.ranges.min = kParamMin[index];
    parameter.ranges.max = kParamMax[index];
}

float QuolvaRepeat::getParameterValue(uint32_t index) const
{
    switch (index)
    {
    case kParamActive:    return fActive;
    case kParamBpm:       return fBpm;
    case kParamBeats:     return fBeats;
    case kParamDivision:  return fDivision;
    case kParamRetrigger: return fRetrigger;
    case kParamAttack:    return fAttack;
    case kParamHold:      return fHold;
    case kParamRelease:   return fRelease;
    case kParamVarispeed: return fVarispeed;
    case kParamSpeed:     return fSpeed;
    default:              return 0.0f;
    }
}

void QuolvaRepeat::setParameterValue(uint32_t index, float value)
{
    switch (index)
    {
    case kParamActive:
        fActive = value;
        break;
    case kParamBpm:
        fBpm = value;
        fBpmInt = integerParam(value, index);
        updateSlice();
        break;
    case kParamBeats:
        fBeats = value;
        fBeatsInt = integerParam(value, index);
        updateSlice();
        break;
    case kParamDivision:
        fDivision = value;
        fDivisionInt = integerParam(value, index);
        updateSlice();
        break;
    case kParamRetrigger:
        fRetrigger = value;
        if (value >= 1.0f && fRetriggerLatch == 0)
        {
            restartRecording();
            fRetriggerLatch = 1;
        }
        else
        {
            fRetriggerLatch = 0;
        }
        break;
    case kParamAttack:
        fAttack = value;
        fAttackUsed = engineParam(value, index);
        updateEnvelopeSteps();
        break;
    case kParamHold:
        fHold = value;
        fHoldUsed = engineParam(value, index);
        break;
    case kParamRelease:
        fRelease = value;
        fReleaseUsed = engineParam(value, index);
        updateEnvelopeSteps();
        break;
    case kParamVarispeed:
        fVarispeed = value;
        break;
    case kParamSpeed:
        fSpeed = value;
        fSpeedUsed = engineParam(value, index);
        break;
    default:
        break;
    }
}

void QuolvaRepeat::updateSlice()
{
    fBeatLength = (60.0 / fBpmInt) * fSampleRate;
    fSliceLength = fBeatsInt * fBeatLength / fDivisionInt;
}

void QuolvaRepeat::updateEnvelopeSteps()
{
    const auto step = [this](float time) -> float {
        if (time == 0.0f)
            return 1.0f;
        const float tenths = time * 0.1f;
        return static_cast<float>(1.0 / (tenths * fSampleRate));
    };
    fAttackStep = step(fAttackUsed);
    fReleaseStep = step(fReleaseUsed);
}

void QuolvaRepeat::restartRecording()
{
    // Equivalent to zero-filling both buffers: nothing beyond fRecordedEnd is read.
    fRecordedEnd = 0;
    fWritePos = 0;
    fPlayPos = 0.0;
    fWrapped = false;
}

void QuolvaRepeat::sampleRateChanged(double newSampleRate)
{
    double rate = newSampleRate;
    if (!(rate >= kMinSampleRate))
        rate = kMinSampleRate;
    else if (rate > kMaxSampleRate)
        rate = kMaxSampleRate;

    const uint32_t capacity = capacityFor(rate);

    // Make the stored samples match what a reader sees (zeros beyond the
    // recorded part), then resize: growing appends zeros, shrinking drops the tail.
    const size_t keep = std::min<size_t>(fRecordedEnd, capacity);
    std::fill(fBufferL.begin() + std::min(keep, fBufferL.size()), fBufferL.end(), 0.0f);
    std::fill(fBufferR.begin() + std::min(keep, fBufferR.size()), fBufferR.end(), 0.0f);
    fBufferL.resize(capacity, 0.0f);
    fBufferR.resize(capacity, 0.0f);
    fCapacity = capacity;
    fRecordedEnd = capacity;

    fSampleRate = rate;
    updateSlice();
    updateEnvelopeSteps();
}

void QuolvaRepeat::activate()
{
    fWritePos = 0;
    fPlayPos = 0.0;
}

void QuolvaRepeat::record(const float* inL, const float* inR, uint32_t frames)
{
    if (fWritePos < fCapacity)
    {
        if (fWritePos > fRecordedEnd)
        {
            // Not reached by the engine's own sequences; keeps the reads exact if it were.
            std::fill(fBufferL.begin() + fRecordedEnd, fBufferL.begin() + fWritePos, 0.0f);
            std::fill(fBufferR.begin() + fRecordedEnd, fBufferR.begin() + fWritePos, 0.0f);
        }
        const uint32_t n = std::min(fCapacity - fWritePos, frames);
        std::memcpy(fBufferL.data() + fWritePos, inL, n * sizeof(float));
        std::memcpy(fBufferR.data() + fWritePos, inR, n * sizeof(float));
        fRecordedEnd = std::max(fRecordedEnd, fWritePos + n);
    }

    // The write position counts every frame, but never wraps around.
    const uint32_t room = std::numeric_limits<uint32_t>::max() - fWritePos;
    fWritePos += std::min(frames, room);
}

// Plays the longest run of samples in which nothing but the read position
// changes: plain read at unity gain, no wrap, inside the hold part of the
// slice. Such a sample's output is exactly the recorded sample. Returns the
// number of samples written.
uint32_t QuolvaRepeat::playSteadyRun(float* outL, float* outR, uint32_t maxFrames, double holdLength)
{
    const double limit = std::min(fSliceLength, holdLength + 1.0);  // pos + 1 must stay below both bounds
    const double start = fPlayPos;
    // A sample j of the run ends at start + j + 1, which must be < fSliceLength and <= holdLength.
    const auto fits = [&](uint32_t j) {
        const double next = start + static_cast<double>(j) + 1.0;
        return next < fSliceLength && next <= holdLength;
    };

    double guess = std::floor(limit - start - 1.0);
    uint32_t m = guess <= 0.0 ? 0u
               : guess >= static_cast<double>(maxFrames) ? maxFrames
               : static_cast<uint32_t>(guess);
    while (m > 0 && !fits(m - 1))
        --m;
    while (m < maxFrames && fits(m))
        ++m;
    if (m == 0)
        return 0;

    const uint32_t k0 = static_cast<uint32_t>(start);
    const uint32_t fromBuffer = k0 < fRecordedEnd ? std::min(m, fRecordedEnd - k0) : 0u;
    std::memcpy(outL, fBufferL.data() + k0, fromBuffer * sizeof(float));
    std::memcpy(outR, fBufferR.data() + k0, fromBuffer * sizeof(float));
    std::fill(outL + fromBuffer, outL + m, 0.0f);
    std::fill(outR + fromBuffer, outR + m, 0.0f);

    fPlayPos = start + static_cast<double>(m);
    return m;
}

// After each output sample: wrap at the end of the slice, then one envelope step.
inline void QuolvaRepeat::endSample(float s, double holdLength)
{
    if (fPlayPos >= fSliceLength)
    {
        fPlayPos -= fSliceLength;
        // Repeated subtraction as long as that stays cheap; only a rate change
        // without the activation that hosts always follow it with can leave the
        // position thousands of slices out.
        if (fPlayPos >= fSliceLength * kMaxWrapSteps)
            fPlayPos = std::fmod(fPlayPos, fSliceLength);
        while (fPlayPos >= fSliceLength)
            fPlayPos -= fSliceLength;
        fWrapped = true;
        fEnvelope = 0.0f;
    }

    if (fPlayPos <= holdLength)
        fEnvelope = std::min(fEnvelope + s * fAttackStep, 1.0f);
    else
        fEnvelope = std::max(fEnvelope - s * fReleaseStep, 0.0f);
}

// Averaged read of up to kGroup output samples from sample first on, as long as
// the averaged read applies; the first sample is known to use it. The
// positions, wraps and gains of the samples are worked out one after the
// other as usual, then their means are formed side by side. Returns the number
// of samples written.
uint32_t QuolvaRepeat::playAveraged(float* outL, float* outR, uint32_t first, uint32_t frames,
                                    const SpeedRamp& ramp, double holdLength)
{
    uint32_t index[kGroup][kReads];
    float gain[kGroup];
    ReadOffsets offsets;
    uint32_t maxIndex = 0;
    uint32_t count = 0;
    bool unity = true;
    float s = ramp.at(first);
    for (;;)
    {
        gain[count] = fEnvelope;
        unity = unity && fEnvelope == 1.0f;
        fPlayPos = averagedReadIndices(fPlayPos, s * 0.03125f, offsets, index[count], maxIndex);
        endSample(s, holdLength);
        ++count;
        if (count == kGroup || first + count >= frames)
            break;
        s = ramp.at(first + count);
        if (!(fWrapped || s < 1.0f))
            break;
    }
    // Unused lanes repeat the first sample; their sums are dropped.
    for (uint32_t g = count; g < kGroup; ++g)
    {
        std::memcpy(index[g], index[0], sizeof index[0]);
        gain[g] = gain[0];
    }

    float meanL[kGroup], meanR[kGroup];
    const float* const bufL = fBufferL.data();
    const float* const bufR = fBufferR.data();
    if (maxIndex >= fRecordedEnd)
        averagedMeans<true, true>(bufL, bufR, fRecordedEnd, index, gain, meanL, meanR);
    else if (unity)
        averagedMeans<false, false>(bufL, bufR, fRecordedEnd, index, gain, meanL, meanR);
    else
        averagedMeans<false, true>(bufL, bufR, fRecordedEnd, index, gain, meanL, meanR);

    std::memcpy(outL + first, meanL, count * sizeof(float));
    std::memcpy(outR + first, meanR, count * sizeof(float));
    return count;
}

void QuolvaRepeat::run(const float** inputs, float** outputs, uint32_t frames)
{
    const float* const inL = inputs[0];
    const float* const inR = inputs[1];
    float* const outL = outputs[0];
    float* const outR = outputs[1];

    if (!(fActive >= 1.0f))
    {
        // Bypass: hold the engine reset and pass the input through.
        fWritePos = 0;
        fWrapped = false;
        fPlayPos = 0.0;
        fEnvelope = 1.0f;
        fRetriggerLatch = 0;
        fRecordedEnd = 0;
        if (outL != inL)
            std::memmove(outL, inL, frames * sizeof(float));
        if (outR != inR)
            std::memmove(outR, inR, frames * sizeof(float));
        fPrevSpeed = fSpeedUsed;
        return;
    }

    if (frames > 0)
        record(inL, inR, frames);

    const float speed = fSpeedUsed;
    const float prevSpeed = fPrevSpeed;
    const bool steadySpeed = speed == prevSpeed;
    const bool varispeed = fVarispeed >= 1.0f;
    const double holdLength = static_cast<double>(std::max(fHoldUsed, 0.1f)) * fSliceLength;
    const SpeedRamp ramp { prevSpeed, speed - prevSpeed, static_cast<float>(frames) };

    for (uint32_t i = 0; i < frames; ++i)
    {
        const float s = ramp.at(i);
        if (varispeed && (fWrapped || s < 1.0f))
        {
            i += playAveraged(outL, outR, i, frames, ramp, holdLength) - 1;
            continue;
        }

        if (steadySpeed && fEnvelope == 1.0f)
        {
            const uint32_t m = playSteadyRun(outL + i, outR + i, frames - i, holdLength);
            if (m > 0)
            {
                i += m - 1;
                continue;
            }
        }

        const float env = fEnvelope;
        const uint32_t k = static_cast<uint32_t>(fPlayPos);
        outL[i] = env * readL(k);
        outR[i] = env * readR(k);
        fPlayPos += 1.0;
        endSample(s, holdLength);
    }

    fPrevSpeed = speed;
}

Plugin* createPlugin()
{
    return new QuolvaRepeat();
}

END_NAMESPACE_DISTRHO
