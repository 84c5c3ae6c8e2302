// Radeda: tempo-synchronised beat repeater (DSP side).
#pragma once

#include "DistrhoPlugin.hpp"
#include "RepeatParams.hpp"

#include <vector>

START_NAMESPACE_DISTRHO

class QuolvaRepeat : public Plugin
{
public:
    QuolvaRepeat();
    ~QuolvaRepeat() override;

    // Longest time the buffers hold, in seconds: 4 beats at 10 BPM with Division 1.
    static constexpr double kBufferSeconds = 24.0;
    // Sample rates the engine sizes its buffers for; a host rate outside is taken
    // as the nearest limit so that the slice stays finite and the buffers bounded.
    static constexpr double kMinSampleRate = 1.0;
    static constexpr double kMaxSampleRate = 1536000.0;

protected:
    const char* getLabel() const override { return "repeat"; }
    const char* getDescription() const override { return "Beat repeat"; }
    const char* getMaker() const override { return "Quolvan Contributors"; }
    const char* getLicense() const override { return "ISC"; }
    uint32_t getVersion() const override { return d_version(1, 0, 0); }
    // This framework version has no default for the unique id.
    int64_t getUniqueId() const override { return d_cconst('q', 'R', 'p', 't'); }

    void initParameter(uint32_t index, Parameter& parameter) override;
    float getParameterValue(uint32_t index) const override;
    void setParameterValue(uint32_t index, float value) override;

    void activate() override;
    void run(const float** inputs, float** outputs, uint32_t frames) override;
    void sampleRateChanged(double newSampleRate) override;

private:
    void updateSlice();
    void updateEnvelopeSteps();
    void restartRecording();
    void record(const float* inL, const float* inR, uint32_t frames);
    uint32_t playSteadyRun(float* outL, float* outR, uint32_t maxFrames, double holdLength);

    // Speed of output sample i of a block: a ramp from the previous block's value.
    struct SpeedRamp
    {
        float from, change, frames;
        float at(uint32_t i) const { return (static_cast<float>(i) / frames) * change + from; }
    };
    uint32_t playAveraged(float* outL, float* outR, uint32_t first, uint32_t frames, const SpeedRamp& ramp,
                          double holdLength);
    void endSample(float s, double holdLength);
    float readL(uint32_t k) const { return k < fRecordedEnd ? fBufferL[k] : 0.0f; }
    float readR(uint32_t k) const { return k < fRecordedEnd ? fBufferR[k] : 0.0f; }

    // Parameter values exactly as last set.
    float fActive, fBpm, fBeats, fDivision, fRetrigger;
    float fAttack, fHold, fRelease, fVarispeed, fSpeed;

    float fPrevSpeed;              // Speed at the end of the previous block (engine value)
    std::vector<float> fBufferL;   // recording buffers, capacity samples each
    std::vector<float> fBufferR;
    double fSampleRate;
    double fBeatLength;            // samples per beat
    uint32_t fWritePos;            // next index to record into; saturates instead of wrapping
    double fPlayPos;               // playback position within the slice
    double fSliceLength;           // samples
    bool fWrapped;
    uint32_t fBpmInt, fBeatsInt, fDivisionInt;
    float fAttackStep;
    float fReleaseStep;
    float fEnvelope;
    int32_t fRetriggerLatch;

    // The values the engine computes with: limited to the declared ranges,
    // a non-finite value replaced by the default.
    float fSpeedUsed, fAttackUsed, fHoldUsed, fReleaseUsed;
    uint32_t fCapacity;
    // Samples [0, fRecordedEnd) of the buffers hold what was recorded since the
    // last clear; everything beyond reads as zero. Clearing the buffers is thus
    // setting this to 0, whatever their size.
    uint32_t fRecordedEnd;

    friend struct QuolvaRepeatProbe;

    DISTRHO_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(QuolvaRepeat)
};

END_NAMESPACE_DISTRHO
