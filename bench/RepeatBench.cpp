// Cost of the Radeda engine per stereo frame at 48 kHz, for blocks of 64, 256
// and 1024 frames, each figure beside a plain copy of the same stereo block
// measured in the same run. After the usual output a table sets every figure
// against its goal.
//
//   stream/...     one iteration is one block of a continuous stream (the
//                  first pass: one iteration is every whole block of one pass);
//                  CPU time, so that other work preempting the benchmark on a
//                  shared machine does not count
//   one_block/...  every block timed on its own with the steady clock, so that
//                  the costly blocks below can be set against ordinary ones
//                  measured the same way, clock overhead included
//   worst/...      the block in which Retrigger restarts after 24 s of
//                  recording, and the first inactive block after 24 s of
//                  recording; the recording itself is not timed
#include "QuolvaRepeat.hpp"

#include <benchmark/benchmark.h>

#include "BenchSource.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

START_NAMESPACE_DISTRHO
extern double d_nextSampleRate;
extern uint32_t d_nextBufferSize;

// Calls the engine's hooks the way the framework does.
struct QuolvaRepeatProbe
{
    static std::unique_ptr<QuolvaRepeat> make(double rate)
    {
        d_nextSampleRate = rate;
        d_nextBufferSize = 4096;
        auto p = std::make_unique<QuolvaRepeat>();
        p->activate();
        return p;
    }
    static void set(QuolvaRepeat& p, uint32_t i, float v) { p.setParameterValue(i, v); }
    static void run(QuolvaRepeat& p, const float* l, const float* r, float* ol, float* orr, uint32_t n)
    {
        const float* in[2] = { l, r };
        float* out[2] = { ol, orr };
        p.run(in, out, n);
    }
    static uint32_t capacity(const QuolvaRepeat& p) { return p.fCapacity; }
    static uint32_t recordedEnd(const QuolvaRepeat& p) { return p.fRecordedEnd; }
    static double slice(const QuolvaRepeat& p) { return p.fSliceLength; }
    static bool wrapped(const QuolvaRepeat& p) { return p.fWrapped; }
};
END_NAMESPACE_DISTRHO

using DISTRHO::QuolvaRepeat;
using Probe = DISTRHO::QuolvaRepeatProbe;
using namespace DISTRHO;

namespace {

constexpr double kRate = 48000.0;
constexpr uint32_t kBlocks[] = { 64, 256, 1024 };
constexpr uint32_t kMaxBlock = 4096;
using Clock = std::chrono::steady_clock;

using quolva::bench::Input;
using quolva::bench::inputName;

// Benchmark input of this engine's blocks.
struct Source : quolva::bench::Source
{
    explicit Source(Input kind) : quolva::bench::Source(kind, 0.5f, kMaxBlock) {}
};

struct Output
{
    std::vector<float> l = std::vector<float>(kMaxBlock), r = std::vector<float>(kMaxBlock);
};

void play(QuolvaRepeat& p, Source& src, Output& out, uint64_t frames)
{
    while (frames > 0)
    {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(frames, kMaxBlock));
        Probe::run(p, src.l(), src.r(), out.l.data(), out.r.data(), n);
        src.advance(n);
        frames -= n;
    }
}

enum class Mode { Bypass, FirstPass, PlainRepeat, AveragedRead };
const char* modeName(Mode m)
{
    switch (m)
    {
    case Mode::Bypass:       return "bypass";
    case Mode::FirstPass:    return "first_pass";
    case Mode::PlainRepeat:  return "plain_repeat";
    case Mode::AveragedRead: return "averaged_read";
    }
    return "";
}

// An engine at 48 kHz with the default slice (14,400 samples), set up for the
// mode: Active 0; just switched on; past the first pass with Varispeed 0; past
// the first pass with Varispeed 1 and Speed 2.
std::unique_ptr<QuolvaRepeat> prepare(Mode mode, Source& src, Output& out, double rate = kRate)
{
    auto p = Probe::make(rate);
    if (mode == Mode::Bypass)
        return p;
    Probe::set(*p, kParamActive, 1.0f);
    if (mode == Mode::AveragedRead)
    {
        Probe::set(*p, kParamVarispeed, 1.0f);
        Probe::set(*p, kParamSpeed, 2.0f);
        Probe::run(*p, nullptr, nullptr, nullptr, nullptr, 0);  // the Speed ramp ends at 2
    }
    if (mode != Mode::FirstPass)
    {
        play(*p, src, out, static_cast<uint64_t>(Probe::slice(*p)) + 1000);
        if (!Probe::wrapped(*p))
            std::abort();
    }
    return p;
}

void setFramesCounter(benchmark::State& state, double framesPerIteration)
{
    state.counters["per_frame"] = benchmark::Counter(
        framesPerIteration, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// ---- continuous streams -------------------------------------------------

void streamCopy(benchmark::State& state, uint32_t n)
{
    Source src(Input::Normal);
    Output out;
    for (auto _ : state)
    {
        std::memcpy(out.l.data(), src.l(), n * sizeof(float));
        std::memcpy(out.r.data(), src.r(), n * sizeof(float));
        benchmark::DoNotOptimize(out.l.data());
        benchmark::DoNotOptimize(out.r.data());
        benchmark::ClobberMemory();
        src.advance(n);
    }
    setFramesCounter(state, n);
}

void streamMode(benchmark::State& state, Mode mode, Input input, uint32_t n)
{
    Source src(input);
    Output out;
    auto p = prepare(mode, src, out);
    for (auto _ : state)
    {
        Probe::run(*p, src.l(), src.r(), out.l.data(), out.r.data(), n);
        src.advance(n);
    }
    setFramesCounter(state, n);
}

// One iteration restarts the recording and plays every whole block of the
// first pass; the restart itself costs a few stores.
uint32_t firstPassFrames(uint32_t n)
{
    Source src(Input::Normal);
    Output out;
    auto p = prepare(Mode::FirstPass, src, out);
    return static_cast<uint32_t>(Probe::slice(*p)) / n * n;
}

void streamFirstPass(benchmark::State& state, Input input, uint32_t n)
{
    Source src(input);
    Output out;
    auto p = prepare(Mode::FirstPass, src, out);
    const uint32_t frames = firstPassFrames(n);
    for (auto _ : state)
    {
        Probe::set(*p, kParamRetrigger, 0.0f);
        Probe::set(*p, kParamRetrigger, 1.0f);
        for (uint32_t done = 0; done < frames; done += n)
        {
            Probe::run(*p, src.l(), src.r(), out.l.data(), out.r.data(), n);
            src.advance(n);
        }
    }
    setFramesCounter(state, frames);
}

// ---- single blocks, each timed on its own -------------------------------

// Times every block on its own. Besides the mean that the library reports,
// the median block (of the first 65,536) goes to the counter
// "median_per_frame": a single block can be hit by an interrupt, and a mean
// over a few hundred blocks shows it.
template <typename Setup, typename Timed>
void timeEachBlock(benchmark::State& state, uint32_t n, Setup setup, Timed timed)
{
    std::vector<double> seconds;
    seconds.reserve(1u << 16);
    for (auto _ : state)
    {
        setup();
        const auto t0 = Clock::now();
        timed();
        const auto t1 = Clock::now();
        const double s = std::chrono::duration<double>(t1 - t0).count();
        state.SetIterationTime(s);
        if (seconds.size() < seconds.capacity())
            seconds.push_back(s);
    }
    setFramesCounter(state, n);
    if (!seconds.empty())
    {
        auto mid = seconds.begin() + static_cast<std::ptrdiff_t>(seconds.size() / 2);
        std::nth_element(seconds.begin(), mid, seconds.end());
        state.counters["median_per_frame"] = *mid / n;
    }
}

void oneBlockCopy(benchmark::State& state, uint32_t n)
{
    Source src(Input::Normal);
    Output out;
    timeEachBlock(state, n, [&] { src.advance(n); }, [&] {
        std::memcpy(out.l.data(), src.l(), n * sizeof(float));
        std::memcpy(out.r.data(), src.r(), n * sizeof(float));
        benchmark::DoNotOptimize(out.l.data());
        benchmark::DoNotOptimize(out.r.data());
        benchmark::ClobberMemory();
    });
}

void oneBlockBypass(benchmark::State& state, uint32_t n)
{
    Source src(Input::Normal);
    Output out;
    auto p = prepare(Mode::Bypass, src, out);
    timeEachBlock(state, n, [&] { src.advance(n); },
                  [&] { Probe::run(*p, src.l(), src.r(), out.l.data(), out.r.data(), n); });
}

// An ordinary active block while the slice is being recorded.
void oneBlockFirstPass(benchmark::State& state, uint32_t n)
{
    Source src(Input::Normal);
    Output out;
    auto p = prepare(Mode::FirstPass, src, out);
    const uint32_t frames = firstPassFrames(n);
    uint32_t done = 0;
    timeEachBlock(state, n,
                  [&] {
                      src.advance(n);
                      if (done + n > frames)
                      {
                          Probe::set(*p, kParamRetrigger, 0.0f);
                          Probe::set(*p, kParamRetrigger, 1.0f);
                          done = 0;
                      }
                      done += n;
                  },
                  [&] { Probe::run(*p, src.l(), src.r(), out.l.data(), out.r.data(), n); });
}

// Records until the buffers are full: 24 s at the engine's rate.
void recordWholeBuffer(QuolvaRepeat& p, Source& src, Output& out)
{
    play(p, src, out, Probe::capacity(p));
    if (Probe::recordedEnd(p) != Probe::capacity(p))
        std::abort();
}

// The costly blocks are timed right after 24 s of recording have streamed
// through the caches. Just before each one, a second engine (48 kHz) goes
// through the same event on the same host buffers, so that the code and the
// host's buffers are as warm as for an ordinary block and the figure shows
// the work the measured engine does on its own state.
void worstRetrigger(benchmark::State& state, uint32_t n, double rate)
{
    Source src(Input::Normal);
    Output out;
    auto p = prepare(Mode::FirstPass, src, out, rate);
    auto twin = prepare(Mode::FirstPass, src, out);
    timeEachBlock(state, n,
                  [&] {
                      Probe::set(*p, kParamRetrigger, 0.0f);  // clears the latch
                      recordWholeBuffer(*p, src, out);
                      Probe::set(*twin, kParamRetrigger, 0.0f);
                      Probe::set(*twin, kParamRetrigger, 1.0f);
                      Probe::run(*twin, src.l(), src.r(), out.l.data(), out.r.data(), n);
                  },
                  [&] {
                      Probe::set(*p, kParamRetrigger, 1.0f);
                      Probe::run(*p, src.l(), src.r(), out.l.data(), out.r.data(), n);
                  });
}

void worstFirstInactive(benchmark::State& state, uint32_t n, double rate)
{
    Source src(Input::Normal);
    Output out;
    auto p = prepare(Mode::FirstPass, src, out, rate);
    auto twin = prepare(Mode::FirstPass, src, out);
    timeEachBlock(state, n,
                  [&] {
                      Probe::set(*p, kParamActive, 1.0f);
                      recordWholeBuffer(*p, src, out);
                      Probe::set(*twin, kParamActive, 1.0f);
                      Probe::run(*twin, src.l(), src.r(), out.l.data(), out.r.data(), n);
                      Probe::set(*twin, kParamActive, 0.0f);
                      Probe::run(*twin, src.l(), src.r(), out.l.data(), out.r.data(), n);
                  },
                  [&] {
                      Probe::set(*p, kParamActive, 0.0f);
                      Probe::run(*p, src.l(), src.r(), out.l.data(), out.r.data(), n);
                  });
}

// ---- goals --------------------------------------------------------------

// Nanoseconds per stereo frame of every benchmark run, by name: the median
// block where blocks were timed one by one, else the mean block; with
// --benchmark_repetitions, the median over the repetitions.
class GoalReporter : public benchmark::ConsoleReporter
{
public:
    explicit GoalReporter(OutputOptions options) : ConsoleReporter(options) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
        {
            if (run.error_occurred || run.run_type != Run::RT_Iteration)
                continue;
            auto it = run.counters.find("median_per_frame");
            if (it == run.counters.end())
                it = run.counters.find("per_frame");
            if (it != run.counters.end())
                fFigures[run.run_name.function_name].push_back(it->second.value * 1e9);  // seconds per frame
        }
        ConsoleReporter::ReportRuns(runs);
    }

    bool has(const std::string& name) const { return fFigures.count(name) != 0; }
    double ns(const std::string& name) const
    {
        std::vector<double> v = fFigures.at(name);
        std::sort(v.begin(), v.end());
        const size_t n = v.size();
        return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
    }

private:
    std::map<std::string, std::vector<double>> fFigures;
};

struct GoalTable
{
    const GoalReporter& results;
    int missed = 0;

    void header() const
    {
        std::printf("\nGoals, in ns per stereo frame (48 kHz engine unless the name says otherwise).\n"
                    "copy: memcpy of the same stereo block in the same run. stream/: mean block of a stream (CPU time);\n"
                    "one_block/ and worst/: median block timed alone (beside one_block/copy);\n"
                    "with repetitions, the median over them.\n");
        std::printf("%-46s %10s %10s %8s  %-26s %s\n", "figure", "ns/frame", "copy", "x copy", "goal", "met");
    }

    // figure: the benchmark judged; copy: the copy shown beside it; against: the
    // benchmark the goal is relative to ("" for a limit in ns per frame);
    // limit: that factor or limit (0: no goal, shown for comparison only).
    void row(const std::string& figure, const std::string& copy, const std::string& against, double limit,
             const std::string& goal)
    {
        if (!results.has(figure) || !results.has(copy) || (!against.empty() && !results.has(against)))
            return;
        const double v = results.ns(figure);
        const double c = results.ns(copy);
        const char* met = "-";
        if (limit > 0.0)
        {
            const bool ok = against.empty() ? v <= limit : v <= limit * results.ns(against);
            met = ok ? "yes" : "NO";
            missed += ok ? 0 : 1;
        }
        std::string g = goal;
        if (!against.empty())
        {
            char buf[64];
            std::snprintf(buf, sizeof buf, " (%.2fx)", v / results.ns(against));
            g += buf;
        }
        std::printf("%-46s %10.3f %10.3f %8.2f  %-26s %s\n", figure.c_str(), v, c, v / c, g.c_str(), met);
    }
};

std::string streamName(Mode m, Input i, uint32_t n)
{
    return std::string("stream/") + modeName(m) + "/" + inputName(i) + "/" + std::to_string(n);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    const Mode modes[] = { Mode::Bypass, Mode::FirstPass, Mode::PlainRepeat, Mode::AveragedRead };
    const double worstRates[] = { 48000.0, 192000.0 };

    for (uint32_t n : kBlocks)
    {
        benchmark::RegisterBenchmark(("stream/copy/" + std::to_string(n)).c_str(), streamCopy, n);
        for (Mode m : modes)
            for (Input in : { Input::Normal, Input::Subnormal })
            {
                if (m == Mode::FirstPass)
                    benchmark::RegisterBenchmark(streamName(m, in, n).c_str(), streamFirstPass, in, n);
                else
                    benchmark::RegisterBenchmark(streamName(m, in, n).c_str(), streamMode, m, in, n);
            }
    }
    for (uint32_t n : kBlocks)
    {
        const std::string s = std::to_string(n);
        benchmark::RegisterBenchmark(("one_block/copy/" + s).c_str(), oneBlockCopy, n)->UseManualTime();
        benchmark::RegisterBenchmark(("one_block/bypass/" + s).c_str(), oneBlockBypass, n)->UseManualTime();
        benchmark::RegisterBenchmark(("one_block/first_pass/" + s).c_str(), oneBlockFirstPass, n)->UseManualTime();
        for (double rate : worstRates)
        {
            // Every iteration records 24 s first, so the count is fixed.
            const int iterations = rate > 48000.0 ? 100 : 250;
            const std::string r = std::to_string(static_cast<int>(rate / 1000)) + "k";
            benchmark::RegisterBenchmark(("worst/retrigger_after_24s/" + s + "/" + r).c_str(), worstRetrigger, n, rate)
                ->UseManualTime()->Iterations(iterations);
            benchmark::RegisterBenchmark(("worst/first_inactive_after_24s/" + s + "/" + r).c_str(), worstFirstInactive, n, rate)
                ->UseManualTime()->Iterations(iterations);
        }
    }

    GoalReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);

    GoalTable table { reporter };
    table.header();
    for (uint32_t n : kBlocks)
    {
        const std::string s = std::to_string(n);
        const std::string copy = "stream/copy/" + s;
        const std::string oneCopy = "one_block/copy/" + s;
        table.row(streamName(Mode::Bypass, Input::Normal, n), copy, copy, 2.0, "<= 2x copy");
        table.row(streamName(Mode::FirstPass, Input::Normal, n), copy, "", 0.0, "(no goal)");
        table.row(streamName(Mode::PlainRepeat, Input::Normal, n), copy, "", 3.0, "<= 3 ns");
        table.row(streamName(Mode::AveragedRead, Input::Normal, n), copy, "", 50.0, "<= 50 ns");
        for (Mode m : modes)
            table.row(streamName(m, Input::Subnormal, n), copy, streamName(m, Input::Normal, n), 1.5,
                      "<= 1.5x normal input");
        table.row("one_block/bypass/" + s, oneCopy, "", 0.0, "(ordinary, timed alone)");
        table.row("one_block/first_pass/" + s, oneCopy, "", 0.0, "(ordinary, timed alone)");
        for (double rate : worstRates)
        {
            const std::string r = std::to_string(static_cast<int>(rate / 1000)) + "k";
            table.row("worst/retrigger_after_24s/" + s + "/" + r, oneCopy, "one_block/first_pass/" + s, 5.0,
                      "<= 5x first-pass block");
            table.row("worst/first_inactive_after_24s/" + s + "/" + r, oneCopy, "one_block/bypass/" + s, 5.0,
                      "<= 5x bypass block");
        }
    }
    std::printf("%d goal(s) missed\n", table.missed);
    benchmark::Shutdown();
    return 0;
}
