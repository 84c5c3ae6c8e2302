// Parameters: declared defaults, text conversions, events against flushes,
// events the plug-in must ignore (quietly and without allocating), queries
// for parameters that do not exist, and fuzzed values.
#include "AllocGuard.hpp"
#include "Conformance.hpp"

#include "clap/ext/params.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <tuple>

using namespace quolva;
using namespace quolva::conformance;

namespace {

class Params : public ModuleTest
{
protected:
    // A value for parameter `target` that differs from the busy setting's.
    double junkValue(host::Instance& p, clap_id target) const
    {
        const host::ParamInfo* info = p.paramById(target);
        const double mid = info->min + 0.5 * (info->max - info->min);
        return mid != busyValue(target) ? mid : info->min;
    }
    double busyValue(clap_id id) const
    {
        for (const ParamEvent& e : GetParam().busy)
            if (e.id == id)
                return e.value;
        return std::numeric_limits<double>::quiet_NaN();
    }
    // Every busy value reads back as the float it was stored as.
    void expectBusyValues(host::Instance& p) const
    {
        for (const ParamEvent& e : GetParam().busy)
        {
            const auto v = p.getValue(e.id);
            ASSERT_TRUE(v.has_value());
            EXPECT_EQ(*v, static_cast<double>(static_cast<float>(e.value))) << "parameter " << e.id;
        }
    }
};
QUOLVA_FOR_EACH_MODULE(Params);

// Events a host may send that must change nothing. Each adds its event to a
// list; `target` is a real parameter, `count` the number of parameters and
// `value` a value the target does not have.
struct Junk
{
    const char* what;
    std::function<void(host::EventList&, clap_id target, uint32_t count, double value)> add;
};

const std::vector<Junk>& junkEvents()
{
    using L = host::EventList;
    static const std::vector<Junk> list = {
        { "param-value in a foreign event space", [](L& l, clap_id t, uint32_t, double v) { events::paramValue(l, t, v, 0, 0x5151); } },
        { "param-value for the id after the last", [](L& l, clap_id, uint32_t n, double v) { events::paramValue(l, n, v); } },
        { "param-value for a far id", [](L& l, clap_id, uint32_t n, double v) { events::paramValue(l, n + 1000, v); } },
        { "param-value for CLAP_INVALID_ID", [](L& l, clap_id, uint32_t, double v) { events::paramValue(l, CLAP_INVALID_ID, v); } },
        { "param-value shorter than its struct", [](L& l, clap_id t, uint32_t, double v) {
              events::paramValueSized(l, t, v, sizeof(clap_event_header_t)); } },
        { "param-value longer than its struct", [](L& l, clap_id t, uint32_t, double v) {
              events::paramValueSized(l, t, v, sizeof(clap_event_param_value_t) + 16); } },
        { "param-value NaN", [](L& l, clap_id t, uint32_t, double) {
              events::paramValue(l, t, std::numeric_limits<double>::quiet_NaN()); } },
        { "param-value +infinity", [](L& l, clap_id t, uint32_t, double) {
              events::paramValue(l, t, std::numeric_limits<double>::infinity()); } },
        { "param-value -infinity", [](L& l, clap_id t, uint32_t, double) {
              events::paramValue(l, t, -std::numeric_limits<double>::infinity()); } },
        { "param-value beyond the float range", [](L& l, clap_id t, uint32_t, double) { events::paramValue(l, t, -1e300); } },
        { "param-mod", [](L& l, clap_id t, uint32_t, double) { events::paramMod(l, t, 0.3); } },
        { "param-gesture-begin", [](L& l, clap_id t, uint32_t, double) { events::gesture(l, t, true); } },
        { "param-gesture-end", [](L& l, clap_id t, uint32_t, double) { events::gesture(l, t, false); } },
        { "transport", [](L& l, clap_id, uint32_t, double) { events::transport(l); } },
        { "midi", [](L& l, clap_id, uint32_t, double) { events::midi(l); } },
        { "midi-sysex", [](L& l, clap_id, uint32_t, double) { events::midiSysex(l); } },
        { "midi2", [](L& l, clap_id, uint32_t, double) { events::midi2(l); } },
        { "note-on", [](L& l, clap_id, uint32_t, double) { events::note(l, CLAP_EVENT_NOTE_ON); } },
        { "note-off", [](L& l, clap_id, uint32_t, double) { events::note(l, CLAP_EVENT_NOTE_OFF); } },
        { "note-choke", [](L& l, clap_id, uint32_t, double) { events::note(l, CLAP_EVENT_NOTE_CHOKE); } },
        { "note-end", [](L& l, clap_id, uint32_t, double) { events::note(l, CLAP_EVENT_NOTE_END); } },
        { "note-expression", [](L& l, clap_id, uint32_t, double) { events::noteExpression(l); } },
        { "unknown core event type", [](L& l, clap_id, uint32_t, double) { events::unknownType(l); } },
    };
    return list;
}

// The busy setting, then the junk event aimed at its last parameter, then
// the busy setting's first value again (events after junk still count).
host::EventList busyWithJunk(const std::vector<ParamEvent>& busy, const Junk& junk, uint32_t count, double value)
{
    host::EventList list(busy);
    junk.add(list, busy.back().id, count, value);
    events::paramValue(list, busy.front().id, busy.front().value);
    return list;
}

// A value for fuzzing: within the range, at its ends, up to three range
// widths beyond it, tiny, or not finite at all.
double fuzzValue(const host::ParamInfo& info, std::mt19937& rng)
{
    const double range = info.max - info.min;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto pick = [&rng](std::initializer_list<double> values) {
        return *(values.begin() + std::uniform_int_distribution<size_t>(0, values.size() - 1)(rng));
    };
    constexpr double inf = std::numeric_limits<double>::infinity();
    switch (std::uniform_int_distribution<int>(0, 6)(rng))
    {
    case 0:
    case 1: return info.min + range * unit(rng);
    case 2: return info.min - 3.0 * range * unit(rng);
    case 3: return info.max + 3.0 * range * unit(rng);
    case 4: return pick({ info.min, info.max });
    case 5: return pick({ std::numeric_limits<double>::quiet_NaN(), inf, -inf, 1e300, -1e300 });
    default: return pick({ -0.0, 1e-40, -1e-40, 1e-300 });
    }
}

} // namespace

TEST_P(Params, DefaultsAsDeclared)
{
    auto p = open();
    ASSERT_TRUE(p);
    const auto& params = p->params();
    const std::vector<double>& defaults = GetParam().defaults;
    ASSERT_EQ(params.size(), defaults.size());
    for (size_t i = 0; i < params.size(); ++i)
    {
        SCOPED_TRACE(params[i].name);
        EXPECT_EQ(params[i].id, i);
        EXPECT_EQ(params[i].def, defaults[i]);
        EXPECT_LE(params[i].min, params[i].def);
        EXPECT_LE(params[i].def, params[i].max);
        EXPECT_EQ(p->getValue(params[i].id), defaults[i]);
    }
}

TEST_P(Params, TextToValueToTextIsStable)
{
    auto p = open();
    ASSERT_TRUE(p);
    std::mt19937 rng(3);
    for (const host::ParamInfo& info : p->params())
    {
        std::vector<double> values = { info.min, info.max, info.def };
        for (int i = 0; i < 8; ++i)
            values.push_back(std::uniform_real_distribution<double>(info.min, info.max)(rng));
        for (double v : values)
        {
            SCOPED_TRACE(testing::Message() << info.name << " = " << v);
            const auto first = p->valueToText(info.id, v);
            ASSERT_TRUE(first.has_value()) << p->lastError();
            EXPECT_FALSE(first->empty());
            const auto back = p->textToValue(info.id, *first);
            ASSERT_TRUE(back.has_value()) << p->lastError();
            const auto second = p->valueToText(info.id, *back);
            ASSERT_TRUE(second.has_value()) << p->lastError();
            EXPECT_EQ(*second, *first);
        }
    }
}

TEST_P(Params, EventsWhileProcessingEqualFlushedValues)
{
    // `flushed` gets each round's values through params.flush between blocks,
    // `evented` as events (at random times) in the block itself.
    auto flushed = open();
    auto evented = open();
    ASSERT_TRUE(flushed && evented);
    ASSERT_TRUE(flushed->activate(48000.0, 1, 1024));
    ASSERT_TRUE(startAudio(*evented, 48000.0, 1024));
    std::mt19937 rng(21);
    for (int round = 0; round < 4; ++round)
    {
        SCOPED_TRACE(round);
        const std::vector<ParamEvent> values = randomInRange(*flushed, rng);
        flushed->stopProcessing();
        ASSERT_TRUE(flushed->flush(values)) << flushed->lastError();
        ASSERT_TRUE(flushed->startProcessing());

        const uint32_t frames = 700;
        std::vector<ParamEvent> timed = values;
        for (ParamEvent& e : timed)
            e.time = std::uniform_int_distribution<uint32_t>(0, frames - 1)(rng);
        std::stable_sort(timed.begin(), timed.end(), [](const ParamEvent& a, const ParamEvent& b) { return a.time < b.time; });

        for (int block = 0; block < 3; ++block)
        {
            GuardedStereo input(frames), a(frames), b(frames);
            input.fillNoise(static_cast<uint32_t>(round * 10 + block));
            flushed->process(input.in(), a.out(), frames);
            evented->process(input.in(), b.out(), frames, block == 0 ? timed : std::vector<ParamEvent>(), nullptr);
            EXPECT_TRUE(a.sameBlock(b)) << "block " << block;
            EXPECT_EQ(a.defects(), "");
        }
        EXPECT_EQ(parameterValues(*flushed), parameterValues(*evented));
    }
}

TEST_P(Params, JunkEventsInProcessAreIgnoredQuietly)
{
    const std::vector<ParamEvent>& busy = GetParam().busy;
    const uint32_t frames = 256;
    GuardedStereo input(frames), expected(frames);
    input.fillNoise(9);
    {
        auto reference = open();
        ASSERT_TRUE(reference);
        ASSERT_TRUE(startAudio(*reference, 48000.0, frames));
        reference->process(input.in(), expected.out(), frames, busy, nullptr);
        ASSERT_EQ(expected.defects(), "");
    }
    for (const Junk& junk : junkEvents())
    {
        SCOPED_TRACE(junk.what);
        auto p = open();
        ASSERT_TRUE(p);
        ASSERT_TRUE(startAudio(*p, 48000.0, frames));
        const host::EventList list = busyWithJunk(busy, junk, paramCount(), junkValue(*p, busy.back().id));
        GuardedStereo output(frames);
        StderrCapture capture;
        const clap_process_status status = p->process(input.in(), output.out(), frames, list, nullptr);
        const std::string printed = capture.text();
        EXPECT_EQ(printed, "") << "the plug-in printed from the audio thread";
        EXPECT_EQ(status, CLAP_PROCESS_CONTINUE);
        expectBusyValues(*p);
        EXPECT_TRUE(output.sameBlock(expected)) << "the output differs from the one without the junk event";
    }
}

TEST_P(Params, JunkEventsInFlushAreIgnoredQuietly)
{
    const std::vector<ParamEvent>& busy = GetParam().busy;
    for (bool active : { false, true })
    {
        for (const Junk& junk : junkEvents())
        {
            SCOPED_TRACE(testing::Message() << junk.what << (active ? ", active" : ", inactive"));
            auto p = open();
            ASSERT_TRUE(p);
            if (active)
            {
                ASSERT_TRUE(p->activate(48000.0, 1, 256));
            }
            const host::EventList list = busyWithJunk(busy, junk, paramCount(), junkValue(*p, busy.back().id));
            StderrCapture capture;
            const bool flushed = p->flush(list, nullptr);
            const std::string printed = capture.text();
            EXPECT_TRUE(flushed) << p->lastError();
            EXPECT_EQ(printed, "");
            expectBusyValues(*p);
        }
    }
}

TEST_P(Params, AudioThreadCallsDoNotAllocate)
{
    auto p = open();
    ASSERT_TRUE(p);
    // The counter has to see the module's own allocations, or a count of zero
    // below would prove nothing: creating a plug-in through the factory
    // allocates inside the module and nowhere in the host.
    size_t seen = 0;
    {
        const clap_plugin_factory_t* factory = p.module->factory();
        test::AllocationScope scope;
        const clap_plugin_t* made = factory->create_plugin(factory, p->host(), GetParam().id);
        seen = scope.count();
        ASSERT_NE(made, nullptr);
        made->destroy(made);
    }
    if (seen == 0)
        GTEST_SKIP() << "the module's allocations are invisible to this executable (the module carries its own C++ runtime)";

    const std::vector<ParamEvent>& busy = GetParam().busy;
    host::EventList list(busy);
    for (const Junk& junk : junkEvents())
        junk.add(list, busy.back().id, paramCount(), junkValue(*p, busy.back().id));
    const uint32_t frames = 512;
    GuardedStereo input(frames), output(frames);
    input.fillNoise(4);
    ASSERT_TRUE(startAudio(*p, 48000.0, frames));
    {
        test::AllocationScope scope;
        p->process(input.in(), output.out(), frames, list, nullptr);
        p->process(input.in(), output.out(), frames);
        EXPECT_EQ(scope.count(), 0u) << "allocations during process";
    }
    p->stopProcessing();
    {
        // params.flush of an active plug-in runs on the audio thread.
        test::AllocationScope scope;
        EXPECT_TRUE(p->flush(list, nullptr));
        EXPECT_EQ(scope.count(), 0u) << "allocations during params.flush";
    }
    EXPECT_EQ(output.defects(), "");
}

TEST_P(Params, QueriesForUnknownParametersFailQuietly)
{
    auto p = open();
    ASSERT_TRUE(p);
    const auto* params = p->pluginExtension<clap_plugin_params_t>(CLAP_EXT_PARAMS);
    ASSERT_NE(params, nullptr);
    const clap_plugin_t* plugin = p->plugin();
    for (clap_id id : { paramCount(), paramCount() + 1, 0x7FFFFFFFu, CLAP_INVALID_ID })
    {
        SCOPED_TRACE(id);
        StderrCapture capture;
        clap_param_info_t info {};
        double value = 0.0;
        char text[64] = "";
        EXPECT_FALSE(params->get_info(plugin, id, &info));
        EXPECT_FALSE(params->get_value(plugin, id, &value));
        EXPECT_FALSE(params->value_to_text(plugin, id, 0.5, text, sizeof text));
        EXPECT_FALSE(params->text_to_value(plugin, id, "0.5", &value));
        EXPECT_EQ(capture.text(), "");
    }
    // Known parameters still answer, but have no text for a value that is
    // not a number.
    const clap_id last = paramCount() - 1;
    clap_param_info_t info {};
    EXPECT_TRUE(params->get_info(plugin, last, &info));
    EXPECT_EQ(info.id, last);
    char text[64];
    for (clap_id id = 0; id <= last; ++id)
    {
        EXPECT_TRUE(params->value_to_text(plugin, id, info.min_value, text, sizeof text));
        for (double v : { std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity() })
            EXPECT_FALSE(params->value_to_text(plugin, id, v, text, sizeof text)) << "parameter " << id << ", " << v;
    }
}

TEST_P(Params, FuzzedValuesKeepTheOutputFinite)
{
    for (uint32_t seed : { 1u, 2u, 3u })
    {
        SCOPED_TRACE(seed);
        auto p = open();
        ASSERT_TRUE(p);
        const std::vector<host::ParamInfo> params = p->params();
        ASSERT_TRUE(startAudio(*p, 44100.0, 512));
        std::mt19937 rng(seed);
        for (int block = 0; block < 80; ++block)
        {
            const uint32_t frames = std::uniform_int_distribution<uint32_t>(0, 512)(rng);
            std::vector<std::tuple<uint32_t, clap_id, double>> changes;
            for (int n = std::uniform_int_distribution<int>(0, 4)(rng); n > 0; --n)
            {
                const host::ParamInfo& info = params[std::uniform_int_distribution<size_t>(0, params.size() - 1)(rng)];
                const uint32_t time = frames > 0 ? std::uniform_int_distribution<uint32_t>(0, frames - 1)(rng) : 0;
                changes.emplace_back(time, info.id, fuzzValue(info, rng));
            }
            std::stable_sort(changes.begin(), changes.end(),
                             [](const auto& a, const auto& b) { return std::get<0>(a) < std::get<0>(b); });
            host::EventList list;
            for (const auto& [time, id, value] : changes)
                events::paramValue(list, id, value, time);
            GuardedStereo input(frames), output(frames);
            input.fillNoise(static_cast<uint32_t>(rng()));
            EXPECT_EQ(p->process(input.in(), output.out(), frames, list, nullptr), CLAP_PROCESS_CONTINUE);
            ASSERT_EQ(output.defects(false), "") << "block " << block;
        }
        for (const host::ParamInfo& info : params)
        {
            const auto v = p->getValue(info.id);
            ASSERT_TRUE(v.has_value());
            EXPECT_TRUE(std::isfinite(*v)) << info.name << " reads " << *v;
        }
        for (const std::string& problem : p->problems())
            EXPECT_EQ(problem.find("non-finite"), std::string::npos) << problem;

        // Whatever the values became, the state still saves and restores.
        p->deactivate();
        std::vector<uint8_t> saved, again;
        ASSERT_TRUE(p->saveState(saved));
        auto q = open();
        ASSERT_TRUE(q);
        ASSERT_TRUE(q->loadState(saved)) << q->lastError();
        ASSERT_TRUE(q->saveState(again));
        EXPECT_EQ(again, saved);
    }
}
