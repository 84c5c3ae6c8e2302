// Zivaz: sample-rate reducer with distortion, signal-dependent noise and a soft clipper (DSP side).
#pragma once

#include "DistrhoPlugin.hpp"
#include "CrushParams.hpp"

START_NAMESPACE_DISTRHO

class QuolvaCrush : public Plugin
{
public:
    QuolvaCrush();
    ~QuolvaCrush() override;

    // Longest hold: a Downsample at or above 2^32 holds for this many frames.
    static constexpr uint32_t kMaxHold = 4294967295u;

protected:
    const char* getLabel() const override { return "crush"; }
    const char* getDescription() const override { return "Sample rate reduction"; }
    const char* getMaker() const override { return "Quolvan Contributors"; }
    const char* getLicense() const override { return "ISC"; }
    uint32_t getVersion() const override { return d_version(1, 0, 0); }
    // This framework version has no default for the unique id.
    int64_t getUniqueId() const override { return d_cconst('q', 'C', 'r', 's'); }

    void initParameter(uint32_t index, Parameter& parameter) override;
    float getParameterValue(uint32_t index) const override;
    void setParameterValue(uint32_t index, float value) override;

    void activate() override;
    void run(const float** inputs, float** outputs, uint32_t frames) override;

private:
    // Hold factor N from Downsample: truncated, at least 1, at most kMaxHold.
    uint32_t holdFactor() const;
    // The value a ramped parameter enters the formulas with: non-finite counts as the default.
    static float engineValue(float value, uint32_t index);
    void copyRampStarts();

    // Parameter values exactly as last set.
    float fDownsample, fNoiseBias, fInputNoise, fOutputNoise, fDistort, fPostClip;
    // Ramp starts: the engine values of the five ramped parameters at the end of the last block.
    float fPrevNoiseBias, fPrevInputNoise, fPrevOutputNoise, fPrevDistort, fPrevPostClip;
    uint32_t fNoiseState;   // noise generator, shared by all draws of a frame
    float fHeldL, fHeldR;   // held samples, taken on the last capture frame
    uint32_t fFrameCounter; // frames since the last reset, wrapping; fixes the hold phase

    friend struct QuolvaCrushProbe;

    DISTRHO_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(QuolvaCrush)
};

END_NAMESPACE_DISTRHO
