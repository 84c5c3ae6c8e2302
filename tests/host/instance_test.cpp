#include <cmath>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "clap/ext/thread-check.h"

#include "quolva/host.h"

#include "fake_control.h"
#include "fake_fixture.h"

namespace quolva::host::test {
namespace {

using InstanceTest = FakeFixture;

TEST_F(InstanceTest, UnknownIdFailsCleanly)
{
    std::string error;
    auto none = Instance::create(*module, "org.quolva.test.none", error);
    EXPECT_FALSE(none);
    EXPECT_NE(error.find("org.quolva.test.none"), std::string::npos) << error;
    EXPECT_NE(error.find(kFakeGainId), std::string::npos) << "the error lists what the module offers: " << error;
    // The module stays usable.
    auto other = newInstance(kFakeGainId);
    EXPECT_TRUE(other);
}

TEST_F(InstanceTest, ReportsTheDescriptor)
{
    EXPECT_EQ(inst->id(), kFakeGainId);
    EXPECT_EQ(inst->name(), "Fake Gain");
    EXPECT_EQ(inst->vendor(), "Quolva Test");
    EXPECT_EQ(inst->version(), "1.0.0");
    EXPECT_EQ(inst->description(), "Gain for host tests");
    EXPECT_EQ(inst->features(), (std::vector<std::string>{"audio-effect", "stereo"}));
    EXPECT_TRUE(inst->problems().empty()) << joinedForMessage(inst->problems());
    EXPECT_EQ(Instance::fromHost(inst->host()), inst.get());
    clap_host_t foreign{};
    EXPECT_EQ(Instance::fromHost(&foreign), nullptr);
}

TEST_F(InstanceTest, ListsParameters)
{
    const std::vector<ParamInfo>& params = inst->params();
    ASSERT_EQ(params.size(), 2u);
    EXPECT_EQ(params[0].id, kFakeGainParam);
    EXPECT_EQ(params[0].name, "Gain");
    EXPECT_EQ(params[0].module, "Main");
    EXPECT_EQ(params[0].min, 0.0);
    EXPECT_EQ(params[0].max, 2.0);
    EXPECT_EQ(params[0].def, 1.0);
    EXPECT_EQ(params[0].flags, uint32_t(CLAP_PARAM_IS_AUTOMATABLE));
    EXPECT_EQ(params[1].id, kFakeMuteParam);
    EXPECT_EQ(params[1].name, "Mute");
    EXPECT_EQ(params[1].module, "");
    EXPECT_EQ(params[1].flags, uint32_t(CLAP_PARAM_IS_STEPPED | CLAP_PARAM_IS_AUTOMATABLE));
    EXPECT_EQ(paramFlagNames(params[1].flags), (std::vector<std::string>{"stepped", "automatable"}));
    EXPECT_EQ(paramFlagNames(1u << 30), std::vector<std::string>{"0x40000000"});
}

TEST_F(InstanceTest, FindsParametersByNameOrId)
{
    struct Case {
        std::string key;
        clap_id expected; // CLAP_INVALID_ID: no match
    };
    const Case cases[] = {
        {"Gain", kFakeGainParam}, {"10", kFakeGainParam},      {"20", kFakeMuteParam},
        {"mute", kFakeMuteParam}, {"GAIN", kFakeGainParam},    {"0", CLAP_INVALID_ID},
        {"1", CLAP_INVALID_ID},   {"Gainx", CLAP_INVALID_ID},  {"", CLAP_INVALID_ID},
        {"-10", CLAP_INVALID_ID}, {"99999999999", CLAP_INVALID_ID},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("key '" + c.key + "'");
        const ParamInfo* p = inst->findParam(c.key);
        if (c.expected == CLAP_INVALID_ID)
            EXPECT_EQ(p, nullptr);
        else
            EXPECT_TRUE(p && p->id == c.expected);
    }
}

TEST_F(InstanceTest, ConvertsValuesAndText)
{
    EXPECT_EQ(inst->valueToText(kFakeGainParam, 0.5), "0.500");
    EXPECT_EQ(inst->valueToText(kFakeMuteParam, 1.0), "on");
    EXPECT_EQ(inst->valueToText(99, 1.0), std::nullopt);
    EXPECT_EQ(inst->textToValue(kFakeMuteParam, "off"), 0.0);
    EXPECT_EQ(inst->textToValue(kFakeGainParam, "1.25"), 1.25);
    EXPECT_EQ(inst->textToValue(kFakeMuteParam, "maybe"), std::nullopt);
    EXPECT_FALSE(inst->lastError().empty());
    EXPECT_EQ(inst->getValue(kFakeGainParam), 1.0);
    EXPECT_EQ(inst->getValue(99), std::nullopt);
    EXPECT_TRUE(inst->problems().empty()) << "an unknown id is no fault of the plug-in";
}

TEST_F(InstanceTest, FlushOutsideProcessingAppliesValuesOnTheMainThread)
{
    std::vector<ParamEvent> out;
    control->queueOutput(inst->plugin(), kFakeGainParam, 0.75, 0);
    ASSERT_TRUE(inst->flush({{kFakeGainParam, 0.25, 0}, {kFakeMuteParam, 1.0, 0}}, &out));
    EXPECT_EQ(inst->getValue(kFakeGainParam), 0.25);
    EXPECT_EQ(inst->getValue(kFakeMuteParam), 1.0);
    EXPECT_EQ(out, (std::vector<ParamEvent>{{kFakeGainParam, 0.75, 0}}));

    const FakeStats s = stats();
    EXPECT_EQ(s.flushCalls, 1u);
    EXPECT_EQ(s.flushesOnAudioThread, 0u);
    EXPECT_EQ(s.threadCheckFailures, 0u);
    const std::vector<FakeReceived> got = received();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].steadyTime, -1);
    EXPECT_EQ(got[0].paramId, kFakeGainParam);
    EXPECT_EQ(got[1].paramId, kFakeMuteParam);
}

TEST_F(InstanceTest, FlushWhileActiveRunsOnTheAudioThread)
{
    ASSERT_TRUE(inst->activate(48000.0, 1, 256));
    ASSERT_TRUE(inst->flush({{kFakeGainParam, 0.5, 0}}));
    EXPECT_EQ(inst->getValue(kFakeGainParam), 0.5);
    const FakeStats s = stats();
    EXPECT_EQ(s.flushesOnAudioThread, 1u);
    EXPECT_EQ(s.threadCheckFailures, 0u);
}

TEST_F(InstanceTest, FlushWhileProcessingIsRefused)
{
    ASSERT_TRUE(inst->activate(48000.0, 1, 256));
    ASSERT_TRUE(inst->startProcessing());
    EXPECT_FALSE(inst->flush({{kFakeGainParam, 0.5, 0}}));
    EXPECT_NE(inst->lastError().find("processing"), std::string::npos);
    EXPECT_EQ(stats().flushCalls, 0u);
}

TEST_F(InstanceTest, ProcessBuildsARealCallAndCollectsOutputEvents)
{
    constexpr uint32_t n = 64;
    const AudioBuffer in = testSignal(2 * n);
    AudioBuffer out;
    out.resize(2 * n);
    ASSERT_TRUE(inst->activate(48000.0, 1, n));
    ASSERT_TRUE(inst->startProcessing());

    control->queueOutput(inst->plugin(), kFakeMuteParam, 1.0, 3);
    std::vector<ParamEvent> outEvents;
    const float* in0[2] = {in.left.data(), in.right.data()};
    float* out0[2] = {out.left.data(), out.right.data()};
    EXPECT_EQ(inst->process(in0, out0, n, {{kFakeGainParam, 0.5, 5}}, &outEvents), CLAP_PROCESS_CONTINUE);
    const float* in1[2] = {in.left.data() + n, in.right.data() + n};
    float* out1[2] = {out.left.data() + n, out.right.data() + n};
    EXPECT_EQ(inst->process(in1, out1, n, std::vector<ParamEvent>{}, &outEvents), CLAP_PROCESS_CONTINUE);

    EXPECT_EQ(outEvents, (std::vector<ParamEvent>{{kFakeMuteParam, 1.0, 3}}));
    const std::vector<FakeBlock> b = blocks();
    ASSERT_EQ(b.size(), 2u);
    EXPECT_EQ(b[0].steadyTime, 0);
    EXPECT_EQ(b[1].steadyTime, int64_t(n));
    EXPECT_EQ(b[0].eventCount, 1u);
    EXPECT_EQ(inst->steadyTime(), int64_t(2 * n));
    for (uint32_t i = 0; i < 2 * n; ++i) {
        const float g = i < 5 ? 1.0f : 0.5f;
        ASSERT_EQ(out.left[i], in.left[i] * g) << "frame " << i;
        ASSERT_EQ(out.right[i], in.right[i] * g) << "frame " << i;
    }
    EXPECT_TRUE(inst->problems().empty());
}

TEST_F(InstanceTest, ProcessIsRefusedOutsideTheProcessingState)
{
    AudioBuffer buf = testSignal(32);
    const float* in[2] = {buf.left.data(), buf.right.data()};
    float* out[2] = {buf.left.data(), buf.right.data()};
    EXPECT_EQ(inst->process(in, out, 32), CLAP_PROCESS_ERROR);
    EXPECT_NE(inst->lastError().find("not processing"), std::string::npos);

    ASSERT_TRUE(inst->activate(48000.0, 1, 16));
    ASSERT_TRUE(inst->startProcessing());
    EXPECT_EQ(inst->process(in, out, 32), CLAP_PROCESS_ERROR);
    EXPECT_NE(inst->lastError().find("more than"), std::string::npos);
    EXPECT_EQ(stats().processCalls, 0u);
    EXPECT_TRUE(inst->problems().empty()) << "host-side refusals are not plug-in problems";
}

TEST_F(InstanceTest, RawEventsReachThePluginAsSent)
{
    EventList events;
    clap_event_param_gesture_t gesture{};
    gesture.header = {sizeof gesture, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_GESTURE_BEGIN, 0};
    gesture.param_id = kFakeGainParam;
    events.push(&gesture.header);
    events.pushParamValue(2, kFakeGainParam, 0.125);
    clap_event_midi_t midi{};
    midi.header = {sizeof midi, 4, 7, CLAP_EVENT_MIDI, 0}; // a space the plug-in never heard of
    events.push(&midi.header);

    AudioBuffer buf = testSignal(8);
    const float* in[2] = {buf.left.data(), buf.right.data()};
    float* out[2] = {buf.left.data(), buf.right.data()};
    ASSERT_TRUE(inst->activate(48000.0, 1, 8));
    ASSERT_TRUE(inst->startProcessing());
    inst->process(in, out, 8, events, nullptr);

    const std::vector<FakeReceived> got = received();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].type, CLAP_EVENT_PARAM_GESTURE_BEGIN);
    EXPECT_EQ(got[0].paramId, kFakeGainParam);
    EXPECT_EQ(got[1].type, CLAP_EVENT_PARAM_VALUE);
    EXPECT_EQ(got[1].time, 2u);
    EXPECT_EQ(got[1].value, 0.125);
    EXPECT_EQ(got[2].spaceId, 7u);
    EXPECT_EQ(got[2].time, 4u);
}

TEST_F(InstanceTest, ThreadRolesAreAnsweredTruthfully)
{
    AudioBuffer buf = testSignal(64);
    const float* in[2] = {buf.left.data(), buf.right.data()};
    float* out[2] = {buf.left.data(), buf.right.data()};
    ASSERT_TRUE(inst->activate(44100.0, 1, 64));
    ASSERT_TRUE(inst->startProcessing());
    inst->process(in, out, 64);
    inst->stopProcessing();
    inst->reset();
    inst->deactivate();
    std::vector<uint8_t> state;
    ASSERT_TRUE(inst->saveState(state));
    inst->pumpTimers();

    const FakeStats s = stats();
    EXPECT_EQ(s.threadCheckFailures, 0u);
    EXPECT_GE(s.threadChecks, 9u); // init, activate, start, process, stop, reset, deactivate, save, timer

    EXPECT_TRUE(inst->isMainThread());
    EXPECT_FALSE(inst->isAudioThread());
    const auto* tc = static_cast<const clap_host_thread_check_t*>(
        inst->host()->get_extension(inst->host(), CLAP_EXT_THREAD_CHECK));
    ASSERT_NE(tc, nullptr);
    bool otherIsMain = true;
    bool otherIsAudio = true;
    std::thread([&] {
        otherIsMain = tc->is_main_thread(inst->host());
        otherIsAudio = tc->is_audio_thread(inst->host());
    }).join();
    EXPECT_FALSE(otherIsMain);
    EXPECT_FALSE(otherIsAudio);
}

TEST_F(InstanceTest, TimersFireOnlyWhenPumped)
{
    ASSERT_EQ(inst->timers().size(), 1u);
    EXPECT_EQ(inst->hostCalls().timersRegistered, 1u);
    EXPECT_EQ(stats().timerFires, 0u);
    EXPECT_EQ(inst->pumpTimers(), 1u);
    EXPECT_EQ(inst->pumpTimers(), 1u);
    EXPECT_EQ(stats().timerFires, 2u);
}

TEST_F(InstanceTest, CallbackRequestsAreServedOnceOnTheMainThread)
{
    EXPECT_FALSE(inst->pumpCallback());
    control->requestCallback(inst->plugin());
    EXPECT_EQ(inst->hostCalls().requestCallback, 1u);
    EXPECT_TRUE(inst->pumpCallback());
    EXPECT_FALSE(inst->pumpCallback());
    const FakeStats s = stats();
    EXPECT_EQ(s.mainThreadCallbacks, 1u);
    EXPECT_EQ(s.threadCheckFailures, 0u);
}

TEST_F(InstanceTest, HostExtensionsCanBeAddedForLaterWork)
{
    static const int marker = 42;
    EXPECT_EQ(inst->host()->get_extension(inst->host(), "clap.gui"), nullptr);
    inst->addHostExtension("clap.gui", &marker);
    EXPECT_EQ(inst->host()->get_extension(inst->host(), "clap.gui"), &marker);
    for (const char* offered : {"clap.params", "clap.thread-check", "clap.log", "clap.timer-support",
                                "clap.audio-ports", "clap.state", "clap.latency"})
        EXPECT_NE(inst->host()->get_extension(inst->host(), offered), nullptr) << offered;
}

// Each deliberate fault of the fake must be reported as exactly one problem, and
// a well-behaved block as none.
TEST_F(InstanceTest, ReportsWhatThePluginDoesWrong)
{
    struct Case {
        const char* name;
        std::function<void(const FakeControl*, const clap_plugin_t*)> setup;
        const char* expected; // nullptr: no problem at all
    };
    const auto fault = [](uint32_t f) {
        return [f](const FakeControl* c, const clap_plugin_t* p) { c->setFaults(p, f); };
    };
    const auto output = [](uint32_t id, double value, uint32_t time) {
        return [=](const FakeControl* c, const clap_plugin_t* p) { c->queueOutput(p, id, value, time); };
    };
    const Case cases[] = {
        {"well-behaved", fault(0), nullptr},
        {"unwritten frame", fault(kFaultLeaveLastFrame), "process left output samples unwritten (channel 0)"},
        {"NaN output", fault(kFaultWriteNaN), "process wrote non-finite output samples (channel 0)"},
        {"error status", fault(kFaultReturnError), "process returned CLAP_PROCESS_ERROR"},
        {"rescan from audio", fault(kFaultRescanFromAudio),
         "clap.params rescan called from the audio thread"},
        {"log warning", fault(kFaultLogWarning), "plug-in logged warning: fake plug-in warning"},
        {"short event", fault(kFaultBadEventSize), "output param-value event has size 16, expected"},
        {"input written", fault(kFaultWriteInput), "process wrote into its input buffer (channel 0)"},
        {"unknown param", fault(kFaultUnknownParamEvent),
         "output param-value event for unknown parameter id 999"},
        {"value out of range", output(kFakeGainParam, 5.0, 0), "lies outside its range [0, 2]"},
        {"event after block", output(kFakeGainParam, 1.0, 40), "output event time 40 lies outside the block"},
    };

    ASSERT_TRUE(inst->activate(48000.0, 1, 32));
    ASSERT_TRUE(inst->startProcessing());
    const AudioBuffer in = testSignal(32);
    AudioBuffer out;
    out.resize(32);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        inst->clearProblems();
        c.setup(control, inst->plugin());
        const float* ip[2] = {in.left.data(), in.right.data()};
        float* op[2] = {out.left.data(), out.right.data()};
        inst->process(ip, op, 32);
        control->setFaults(inst->plugin(), 0);
        const std::vector<std::string> p = inst->problems();
        if (!c.expected) {
            EXPECT_TRUE(p.empty()) << joinedForMessage(p);
        } else {
            ASSERT_EQ(p.size(), 1u) << joinedForMessage(p);
            EXPECT_NE(p[0].find(c.expected), std::string::npos) << p[0];
        }
    }
}

TEST_F(InstanceTest, RepeatedProblemsAreCountedOnce)
{
    ASSERT_TRUE(inst->activate(48000.0, 1, 16));
    ASSERT_TRUE(inst->startProcessing());
    control->setFaults(inst->plugin(), kFaultReturnError);
    AudioBuffer buf = testSignal(16);
    const float* in[2] = {buf.left.data(), buf.right.data()};
    float* out[2] = {buf.left.data(), buf.right.data()};
    for (int i = 0; i < 3; ++i)
        inst->process(in, out, 16);
    const std::vector<Problem> p = inst->problemDetails();
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].count, 3u);
}

TEST_F(InstanceTest, LogMessagesAreCollectedWithSeverity)
{
    ASSERT_TRUE(inst->activate(48000.0, 1, 16));
    ASSERT_TRUE(inst->startProcessing());
    control->setFaults(inst->plugin(), kFaultLogWarning);
    AudioBuffer buf = testSignal(16);
    const float* in[2] = {buf.left.data(), buf.right.data()};
    float* out[2] = {buf.left.data(), buf.right.data()};
    inst->process(in, out, 16);
    const std::vector<LogEntry> logs = inst->logs();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0].severity, kLogWarning);
    EXPECT_EQ(logs[0].message, "fake plug-in warning");
    EXPECT_STREQ(logSeverityName(kLogPluginMisbehaving), "plugin-misbehaving");
}

TEST_F(InstanceTest, SparseDescriptorAndMissingPortTypeAreReported)
{
    open(kFakeSparseId);
    const std::vector<std::string> p = inst->problems();
    EXPECT_TRUE(anyContains(p, "descriptor vendor is null"));
    EXPECT_TRUE(anyContains(p, "descriptor features list is null"));
    EXPECT_TRUE(anyContains(p, "input port 0 (\"Main In\") has a null port_type"));
    EXPECT_TRUE(anyContains(p, "output port 0 (\"Main Out\") has a null port_type"));
    EXPECT_TRUE(inst->features().empty());
    const std::vector<PortInfo> ports = inst->audioPorts(true);
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_FALSE(ports[0].hasPortType);
}

TEST_F(InstanceTest, PortsAreListedInBothDirections)
{
    for (bool input : {true, false}) {
        SCOPED_TRACE(input ? "input" : "output");
        const std::vector<PortInfo> ports = inst->audioPorts(input);
        ASSERT_EQ(ports.size(), 1u);
        EXPECT_EQ(ports[0].name, input ? "Main In" : "Main Out");
        EXPECT_EQ(ports[0].channels, 2u);
        EXPECT_EQ(ports[0].flags, uint32_t(CLAP_AUDIO_PORT_IS_MAIN));
        EXPECT_TRUE(ports[0].hasPortType);
        EXPECT_EQ(ports[0].portType, "stereo");
        EXPECT_EQ(ports[0].inPlacePair, 0u);
    }
    EXPECT_EQ(audioPortFlagNames(CLAP_AUDIO_PORT_IS_MAIN), std::vector<std::string>{"main"});
}

TEST_F(InstanceTest, LifecycleMisuseIsRefused)
{
    EXPECT_FALSE(inst->init());
    EXPECT_FALSE(inst->startProcessing());
    EXPECT_FALSE(inst->activate(0.0, 1, 64));
    EXPECT_FALSE(inst->activate(48000.0, 65, 64));
    ASSERT_TRUE(inst->activate(48000.0, 1, 64));
    EXPECT_FALSE(inst->activate(48000.0, 1, 64));
    EXPECT_NE(inst->lastError().find("already active"), std::string::npos);
    std::string error;
    auto uninitialised = Instance::create(*module, kFakeGainId, error);
    ASSERT_TRUE(uninitialised);
    EXPECT_FALSE(uninitialised->activate(48000.0, 1, 64));
    EXPECT_NE(uninitialised->lastError().find("before init"), std::string::npos);
}

} // namespace
} // namespace quolva::host::test
