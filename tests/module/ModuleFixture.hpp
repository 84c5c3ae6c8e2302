// Loads a built .clap through our host, the way a DAW does.
#pragma once

#include "quolva/instance.h"
#include "quolva/module.h"
#include "quolva/render.h"

#include "clap/ext/audio-ports.h"
#include "clap/ext/params.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace quolva::test {

struct LoadedPlugin
{
    std::unique_ptr<host::Module> module;
    std::unique_ptr<host::Instance> instance;

    static LoadedPlugin open(const std::string& path, const std::string& id)
    {
        LoadedPlugin p;
        std::string error;
        p.module = host::Module::load(path, error);
        EXPECT_TRUE(p.module) << error;
        if (!p.module)
            return p;
        host::InstanceOptions options;
        options.echoLogs = false;
        p.instance = host::Instance::create(*p.module, id, error, options);
        EXPECT_TRUE(p.instance) << error;
        if (p.instance)
        {
            EXPECT_TRUE(p.instance->init());
        }
        return p;
    }

    host::Instance& operator*() { return *instance; }
    host::Instance* operator->() { return instance.get(); }
};

inline host::AudioBuffer noise(size_t frames, double rate, uint32_t seed)
{
    host::AudioBuffer b;
    b.sampleRate = rate;
    b.resize(frames);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-0.8f, 0.8f);
    for (size_t i = 0; i < frames; ++i)
    {
        b.left[i] = d(rng);
        b.right[i] = d(rng);
    }
    return b;
}

inline bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The saved state as (symbol, value text) pairs, in the order saved.
inline std::vector<std::pair<std::string, std::string>> stateEntries(const std::vector<uint8_t>& bytes)
{
    std::vector<std::string> fields;
    std::string cur;
    for (uint8_t c : bytes)
    {
        if (c == 0xFE)
            break;
        if (c == 0) { fields.push_back(cur); cur.clear(); }
        else cur.push_back(static_cast<char>(c));
    }
    std::vector<std::pair<std::string, std::string>> out;
    for (size_t i = 1; i + 2 < fields.size(); i += 2)
        out.emplace_back(fields[i], fields[i + 1]);
    return out;
}

struct ParamRow { const char* name; double min, max, def; bool stepped; };

// The parameter table as the host sees it: ids are the indices, every parameter
// automatable, stepped where the framework marks it so, and at its default.
inline void expectParameterTable(host::Instance& p, const std::vector<ParamRow>& rows)
{
    const auto& params = p.params();
    ASSERT_EQ(params.size(), rows.size());
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
        EXPECT_EQ(p.getValue(params[i].id), rows[i].def);
    }
}

// One main stereo port each way, with the framework's default names.
inline void expectMainStereoPorts(host::Instance& p)
{
    for (bool input : { true, false })
    {
        const auto ports = p.audioPorts(input);
        ASSERT_EQ(ports.size(), 1u);
        EXPECT_EQ(ports[0].name, input ? "Audio Input" : "Audio Output");
        EXPECT_EQ(ports[0].channels, 2u);
        EXPECT_TRUE(ports[0].flags & CLAP_AUDIO_PORT_IS_MAIN);
        EXPECT_TRUE(ports[0].hasPortType);
        EXPECT_EQ(ports[0].portType, "stereo");
    }
}

struct TimedChange { double seconds; clap_id id; double value; };

// Renders `input` through the module with the changes and compares every output
// bit with `reference`, a plain transcription of the engine driven the way the
// framework drives it: a block's events are applied before the whole block.
template <typename Reference>
void expectRenderMatches(host::Instance& p, const host::AudioBuffer& input, uint32_t block,
                         const std::vector<TimedChange>& changes, bool inPlace, Reference& reference)
{
    const double rate = input.sampleRate;
    std::vector<host::TimedParamChange> timed;
    for (const TimedChange& c : changes)
        timed.push_back(host::TimedParamChange::atSeconds(c.id, c.value, c.seconds));
    host::AudioBuffer output;
    std::string error;
    ASSERT_TRUE(host::render(p, input, rate, block, timed, output, inPlace, &error)) << error;
    ASSERT_EQ(output.frames(), input.frames());

    std::vector<float> l(block), r(block);
    size_t next = 0;
    for (size_t pos = 0; pos < input.frames(); pos += block)
    {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(block, input.frames() - pos));
        while (next < changes.size() && static_cast<size_t>(std::llround(changes[next].seconds * rate)) < pos + n)
        {
            reference.setParameterValue(changes[next].id, static_cast<float>(changes[next].value));
            ++next;
        }
        reference.run(input.left.data() + pos, input.right.data() + pos, l.data(), r.data(), n);
        for (uint32_t i = 0; i < n; ++i)
        {
            ASSERT_TRUE(sameBits(output.left[pos + i], l[i])) << "frame " << pos + i;
            ASSERT_TRUE(sameBits(output.right[pos + i], r[i])) << "frame " << pos + i;
        }
    }
    EXPECT_TRUE(p.problems().empty()) << p.problems().front();
}

} // namespace quolva::test
