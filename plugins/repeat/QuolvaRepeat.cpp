#include "QuolvaRepeat.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

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
    const float framesF = static_cast<float>(frames);

    for (uint32_t i = 0; i < frames; ++i)
    {
        const float s = (static_cast<float>(i) / framesF) * (speed - prevSpeed) + prevSpeed;
        const bool averaged = varispeed && (fWrapped || s < 1.0f);

        if (!averaged && steadySpeed && fEnvelope == 1.0f)
        {
            const uint32_t m = playSteadyRun(outL + i, outR + i, frames - i, holdLength);
            if (m > 0)
            {
                i += m - 1;
                continue;
            }
        }

        const float env = fEnvelope;
        if (averaged)
        {
            float sumL = 0.0f;
            float sumR = 0.0f;
            const float increment = s * 0.03125f;
            double pos = fPlayPos;
            for (int j = 0; j < 32; ++j)
            {
                const uint32_t k = static_cast<uint32_t>(pos);
                sumL += readL(k) * env;
                sumR += readR(k) * env;
                pos += increment;
            }
            fPlayPos = pos;
            outL[i] = sumL * 0.03125f;
            outR[i] = sumR * 0.03125f;
        }
        else
        {
            const uint32_t k = static_cast<uint32_t>(fPlayPos);
            outL[i] = env * readL(k);
            outR[i] = env * readR(k);
            fPlayPos += 1.0;
        }

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

    fPrevSpeed = speed;
}

Plugin* createPlugin()
{
    return new QuolvaRepeat();
}

END_NAMESPACE_DISTRHO
