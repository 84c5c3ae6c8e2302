// Cost of the Zivaz engine per stereo frame, for blocks of 64, 256 and 1024
// frames, with every stage active (Distort, Input Noise, Output Noise and
// Post Clip at 0.5, Noise Bias 0.5) at Downsample 1 and 8, on normal and on
// subnormal input. After the usual output a table sets the figures against
// their goals.
//
//   steady/...   parameters set once; every block after the first runs without ramps
//   ramping/...  all five ramped parameters change before every block
#include "QuolvaCrush.hpp"

#include <benchmark/benchmark.h>

#include "BenchSource.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

START_NAMESPACE_DISTRHO
extern double d_nextSampleRate;
extern uint32_t d_nextBufferSize;

// Calls the engine's hooks the way the framework does.
struct QuolvaCrushProbe
{
    static std::unique_ptr<QuolvaCrush> make()
    {
        d_nextSampleRate = 48000.0;
        d_nextBufferSize = 4096;
        auto p = std::make_unique<QuolvaCrush>();
        p->activate();
        return p;
    }
    static void set(QuolvaCrush& p, uint32_t i, float v) { p.setParameterValue(i, v); }
    static void run(QuolvaCrush& p, const float* l, const float* r, float* ol, float* orr, uint32_t n)
    {
        const float* in[2] = { l, r };
        float* out[2] = { ol, orr };
        p.run(in, out, n);
    }
};
END_NAMESPACE_DISTRHO

using DISTRHO::QuolvaCrush;
using Probe = DISTRHO::QuolvaCrushProbe;
using namespace DISTRHO;

namespace {

constexpr uint32_t kBlocks[] = { 64, 256, 1024 };
constexpr uint32_t kMaxBlock = 1024;

using quolva::bench::Input;
using quolva::bench::inputName;

// Benchmark input of this engine's blocks.
struct Source : quolva::bench::Source
{
    explicit Source(Input kind) : quolva::bench::Source(kind, 0.9f, kMaxBlock) {}
};

void setFramesCounter(benchmark::State& state, double framesPerIteration)
{
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * framesPerIteration));
    state.counters["per_frame"] = benchmark::Counter(
        framesPerIteration, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

std::unique_ptr<QuolvaCrush> allStages(float downsample)
{
    auto p = Probe::make();
    Probe::set(*p, kParamDownsample, downsample);
    Probe::set(*p, kParamNoiseBias, 0.5f);
    Probe::set(*p, kParamInputNoise, 0.5f);
    Probe::set(*p, kParamOutputNoise, 0.5f);
    Probe::set(*p, kParamDistort, 0.5f);
    Probe::set(*p, kParamPostClip, 0.5f);
    return p;
}

void steady(benchmark::State& state, float downsample, Input input, uint32_t n)
{
    Source src(input);
    std::vector<float> outL(kMaxBlock), outR(kMaxBlock);
    auto p = allStages(downsample);
    Probe::run(*p, src.l(), src.r(), outL.data(), outR.data(), n);  // ends the ramps from the defaults
    for (auto _ : state)
    {
        Probe::run(*p, src.l(), src.r(), outL.data(), outR.data(), n);
        benchmark::ClobberMemory();
        src.advance(n);
    }
    setFramesCounter(state, n);
}

// Every block ramps all five parameters, alternating between two settings.
void ramping(benchmark::State& state, float downsample, Input input, uint32_t n)
{
    Source src(input);
    std::vector<float> outL(kMaxBlock), outR(kMaxBlock);
    auto p = allStages(downsample);
    bool flip = false;
    for (auto _ : state)
    {
        flip = !flip;
        for (uint32_t i = kParamNoiseBias; i < kParamCount; ++i)
            Probe::set(*p, i, flip ? 0.3f : 0.6f);
        Probe::run(*p, src.l(), src.r(), outL.data(), outR.data(), n);
        benchmark::ClobberMemory();
        src.advance(n);
    }
    setFramesCounter(state, n);
}

// Nanoseconds per stereo frame of every benchmark, by name: the mean over
// repetitions (the "mean" aggregate when only aggregates are reported).
class GoalReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
        {
            const bool mean = run.run_type == Run::RT_Aggregate && run.aggregate_name == "mean";
            if (run.error_occurred || (run.run_type != Run::RT_Iteration && !mean))
                continue;
            const auto it = run.counters.find("per_frame");
            if (it == run.counters.end())
                continue;
            Sum& sum = (mean ? fMeans : fSums)[run.run_name.function_name];
            sum.total += it->second.value * 1e9;  // seconds per frame
            sum.count += 1;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    bool has(const std::string& name) const { return fMeans.count(name) != 0 || fSums.count(name) != 0; }
    double ns(const std::string& name) const
    {
        const Sum& s = fMeans.count(name) != 0 ? fMeans.at(name) : fSums.at(name);
        return s.total / s.count;
    }

private:
    struct Sum { double total = 0.0; int count = 0; };
    std::map<std::string, Sum> fSums, fMeans;
};

std::string name(const char* kind, float downsample, Input input, uint32_t n)
{
    char buf[96];
    std::snprintf(buf, sizeof buf, "%s/ds%g/%s/%u", kind, downsample, inputName(input), n);
    return buf;
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    const float downsamples[] = { 1.0f, 8.0f };
    const Input inputs[] = { Input::Normal, Input::Subnormal };
    for (float ds : downsamples)
        for (Input in : inputs)
            for (uint32_t n : kBlocks)
                benchmark::RegisterBenchmark(name("steady", ds, in, n).c_str(),
                                             [=](benchmark::State& s) { steady(s, ds, in, n); });
    for (float ds : downsamples)
        for (uint32_t n : kBlocks)
            benchmark::RegisterBenchmark(name("ramping", ds, Input::Normal, n).c_str(),
                                         [=](benchmark::State& s) { ramping(s, ds, Input::Normal, n); });

    GoalReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\nGoals (ns per stereo frame, all stages active)\n");
    std::printf("%-30s %10s %12s %10s  %s\n", "figure", "ns/frame", "vs normal", "goal", "met");
    int missed = 0;
    for (float ds : downsamples)
        for (uint32_t n : kBlocks)
        {
            const std::string normal = name("steady", ds, Input::Normal, n);
            const std::string sub = name("steady", ds, Input::Subnormal, n);
            if (reporter.has(normal))
            {
                const bool ok = reporter.ns(normal) <= 10.0;
                missed += ok ? 0 : 1;
                std::printf("%-30s %10.3f %12s %10s  %s\n", normal.c_str(), reporter.ns(normal), "", "<= 10 ns", ok ? "yes" : "NO");
            }
            if (reporter.has(normal) && reporter.has(sub))
            {
                const double ratio = reporter.ns(sub) / reporter.ns(normal);
                const bool ok = ratio <= 1.5;
                missed += ok ? 0 : 1;
                std::printf("%-30s %10.3f %11.2fx %10s  %s\n", sub.c_str(), reporter.ns(sub), ratio, "<= 1.5x", ok ? "yes" : "NO");
            }
        }
    std::printf("%s\n", missed == 0 ? "All goals met." : "Some goals missed.");
    benchmark::Shutdown();
    return 0;
}
