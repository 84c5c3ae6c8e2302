// Loads a built .clap through our host, the way a DAW does.
#pragma once

#include "quolva/instance.h"
#include "quolva/module.h"
#include "quolva/render.h"

#include <gtest/gtest.h>

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

} // namespace quolva::test
