// Zivaz.clap driven through our host.
#include "ModuleFixture.hpp"
#include "CrushReference.hpp"

#include "clap/ext/params.h"

#include <cmath>
#include <map>

using namespace quolva;
using quolva::test::LoadedPlugin;

namespace {
const char* const kId = "org.quolvan.quolvan.crush";
LoadedPlugin open() { return LoadedPlugin::open(ZIVAZ_CLAP_PATH, kId); }
}

TEST(ZivazModule, DescriptorAndPorts)
{
    auto p = open();
    ASSERT_TRUE(p.instance);
    EXPECT_EQ(p->id(), kId);
    EXPECT_EQ(p->name(), "Quolvan Zivaz");
    EXPECT_EQ(p->vendor(), "Quolvan Contributors");
    EXPECT_EQ(p->description(), "Sample rate reduction");
    EXPECT_EQ(p->version(), "");
    EXPECT_EQ(p->features(), (std::vector<std::string> { "audio-effect", "utility", "stereo" }));
    EXPECT_NE(p->pluginExtension("clap.params"), nullptr);
    EXPECT_NE(p->pluginExtension("clap.state"), nullptr);
    EXPECT_NE(p->pluginExtension("clap.audio-ports"), nullptr);
    EXPECT_NE(p->pluginExtension("clap.gui"), nullptr);
    EXPECT_EQ(p->pluginExtension("clap.latency"), nullptr);
    EXPECT_EQ(p->pluginExtension("clap.note-ports"), nullptr);
    for (bool input : { true, false })
    {
        const auto ports = p->audioPorts(input);
        ASSERT_EQ(ports.size(), 1u);
        EXPECT_EQ(ports[0].name, input ? "Audio Input" : "Audio Output");
        EXPECT_EQ(ports[0].channels, 2u);
        EXPECT_TRUE(ports[0].flags & CLAP_AUDIO_PORT_IS_MAIN);
        EXPECT_EQ(ports[0].portType, "stereo");
    }
}

TEST(ZivazModule, ParameterTable)
{
    auto p = open();
    ASSERT_TRUE(p.instance);
    struct Row { const char* name; double min, max, def; bool stepped; };
    const Row rows[] = {
        { "Downsample", 1, 16, 1, true }, { "Noise Bias", 0, 1, 0.5, false }, { "Input Noise", 0, 1, 0, false },
        { "Output Noise", 0, 1, 0, false }, { "Distort", 0, 1, 0, false }, { "Post Clip", 0, 1, 0, false },
    };
    const auto& params = p->params();
    ASSERT_EQ(params.size(), std::size(rows));
    for (size_t i = 0; i < params.size(); ++i)
    {
        SCOPED_TRACE(rows[i].name);
        EXPECT_EQ(params[i].id, i);
        EXPECT_EQ(params[i].name, rows[i].name);
        EXPECT_EQ(params[i].min, rows[i].min);
        EXPECT_EQ(params[i].max, rows[i].max);
        EXPECT_EQ(params[i].def, rows[i].def);
        EXPECT_EQ(bool(params[i].flags & CLAP_PARAM_IS_STEPPED), rows[i].stepped);
        EXPECT_TRUE(params[i].flags & CLAP_PARAM_IS_AUTOMATABLE);
        EXPECT_EQ(p->getValue(params[i].id), rows[i].def);
    }
}

TEST(ZivazModule, StateHoldsSixSymbolsAndRoundTrips)
{
    auto a = open();
    ASSERT_TRUE(a.instance);
    std::vector<uint8_t> fresh;
    ASSERT_TRUE(a->saveState(fresh));
    const auto defaults = test::stateEntries(fresh);
    const std::vector<std::pair<std::string, std::string>> expected = {
        { "downsample", "1" }, { "noisebias", "0.5" }, { "prenoise", "0" },
        { "postnoise", "0" }, { "distort", "0" }, { "postclip", "0" },
    };
    EXPECT_EQ(defaults, expected);

    ASSERT_TRUE(a->flush({ { 0, 7.6 }, { 2, 0.25 }, { 3, 0.75 }, { 4, 1.5 }, { 5, 0.125 } }));
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(a->saveState(bytes, 5));
    auto b = open();
    ASSERT_TRUE(b.instance);
    ASSERT_TRUE(b->loadState(bytes, 3));
    EXPECT_EQ(b->getValue(0), 8.0);  // integers are saved rounded
    EXPECT_EQ(b->getValue(2), 0.25);
    EXPECT_EQ(b->getValue(3), 0.75);
    EXPECT_EQ(b->getValue(4), 1.5);
    EXPECT_EQ(b->getValue(5), 0.125);
    std::vector<uint8_t> again;
    ASSERT_TRUE(b->saveState(again, 2));
    EXPECT_EQ(again, bytes);
}

TEST(ZivazModule, LaterEventForOneParameterWins)
{
    auto p = open();
    ASSERT_TRUE(p.instance);
    ASSERT_TRUE(p->activate(48000.0, 1, 64));
    ASSERT_TRUE(p->startProcessing());
    std::vector<float> inL(64, 0.5f), inR(64, 0.5f), outL(64), outR(64);
    const float* in[2] = { inL.data(), inR.data() };
    float* out[2] = { outL.data(), outR.data() };
    p->process(in, out, 64, { { 4, 0.0, 0 }, { 4, 1.0, 10 } }, nullptr);
    p->process(in, out, 64, std::vector<host::ParamEvent> {}, nullptr);
    // Distort 1 throughout the second block: 2 softClip(0.5).
    EXPECT_NEAR(outL[5], 0.931624f, 1e-6f);
    p->stopProcessing();
    p->deactivate();
    EXPECT_EQ(p->getValue(4), 1.0);
}

TEST(ZivazModule, RenderMatchesTheEngineAlgorithm)
{
    const double rate = 44100.0;
    const host::AudioBuffer input = test::noise(44100 * 2, rate, 99);
    struct Change { double seconds; clap_id id; double value; };
    const std::vector<Change> changes = {
        { 0.0, 0, 4 }, { 0.0, 2, 0.3 }, { 0.0, 3, 0.2 }, { 0.3, 4, 0.8 }, { 0.6, 5, 0.5 },
        { 0.9, 0, 11 }, { 1.1, 1, 0.1 }, { 1.4, 0, 2.5 }, { 1.7, 4, 0.0 },
    };
    const uint32_t block = 300;

    auto p = open();
    ASSERT_TRUE(p.instance);
    std::vector<host::TimedParamChange> timed;
    for (const Change& c : changes)
        timed.push_back(host::TimedParamChange::atSeconds(c.id, c.value, c.seconds));
    host::AudioBuffer output;
    std::string error;
    ASSERT_TRUE(host::render(*p, input, rate, block, timed, output, true, &error)) << error;

    CrushReference ref;
    ref.activate();
    std::vector<float> l(block), r(block);
    size_t next = 0;
    for (size_t pos = 0; pos < input.frames(); pos += block)
    {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(block, input.frames() - pos));
        while (next < changes.size() && static_cast<size_t>(std::llround(changes[next].seconds * rate)) < pos + n)
        {
            ref.setParameterValue(changes[next].id, static_cast<float>(changes[next].value));
            ++next;
        }
        ref.run(input.left.data() + pos, input.right.data() + pos, l.data(), r.data(), n);
        for (uint32_t i = 0; i < n; ++i)
        {
            ASSERT_TRUE(test::sameBits(output.left[pos + i], l[i])) << "frame " << pos + i;
            ASSERT_TRUE(test::sameBits(output.right[pos + i], r[i])) << "frame " << pos + i;
        }
    }
    EXPECT_TRUE(p->problems().empty()) << p->problems().front();
}
