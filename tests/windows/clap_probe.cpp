// clap_probe: loads one of our .clap modules through quolva-host-lib and writes
// everything a host can observe of it into a folder, so that the Linux module
// and the Windows module (this same program cross-built, run under Wine) can be
// compared file for file, byte for byte:
//
//   info.json        descriptor, extensions, audio ports, parameters with their
//                    texts, saved states and a state round trip, host problems
//   input.f32        the synthetic input every scenario renders
//   <scenario>.f32   the output of each scenario of the plug-in's table
//   scenarios.json   per scenario: rate, block, frames, changes, output hash,
//                    whether the output differs from the input, host problems
//
// Audio files are interleaved stereo float32, little-endian (both targets are
// x86-64). The input is made from integer arithmetic and plain float
// operations only, so both builds produce the same bits without relying on
// the C library.
//
//   clap_probe MODULE.clap OUTDIR

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "quolva/audio_buffer.h"
#include "quolva/instance.h"
#include "quolva/describe.h"
#include "quolva/json.h"
#include "quolva/module.h"
#include "quolva/render.h"

using namespace quolva::host;

namespace {

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// ---------------------------------------------------------------------------------------------
// The scenario tables

// A parameter change by name; frame 0 changes arrive with the first block.
struct Change {
    int64_t frame;
    const char* param;
    double value;
};

struct Scenario {
    std::string name;
    double rate;
    uint32_t block;
    double seconds;
    // Set through params.flush before activation, as a host restoring a
    // session would, instead of as events.
    std::vector<Change> preset;
    std::vector<Change> changes;
    // Whether this scenario must alter the signal; checked by the comparison.
    bool alters;
};

// One setting rendered at every block size (at 44100 Hz) and every further
// sample rate (in blocks of 333 frames): the sweep entries of a table.
const uint32_t kSweepBlocks[] = {1, 64, 333, 4096};
const double kSweepRates[] = {22050, 48000, 96000};

std::vector<Scenario> withSweep(std::vector<Scenario> table, const std::vector<Change>& setting)
{
    for (uint32_t block : kSweepBlocks) {
        // Block size 1 means one process call per frame: a shorter signal.
        table.push_back({"block-" + std::to_string(block), 44100, block, block == 1 ? 0.25 : 0.6, {}, setting,
                         true});
    }
    for (double rate : kSweepRates)
        table.push_back({"rate-" + std::to_string(int(rate)), rate, 333, 0.6, {}, setting, true});
    return table;
}

// Radeda: tempo-synchronised repeats; the slice is Beats / Division beats at BPM.
const std::vector<Scenario>& radedaScenarios()
{
    static const std::vector<Scenario> table = withSweep(
        {
            {"defaults", 44100, 512, 0.5, {}, {}, false},
            {"quarter-repeat", 44100, 512, 1.0, {},
             {{0, "Active", 1}, {0, "BPM", 240}, {0, "Beats", 1}, {0, "Division", 4}}, true},
            {"stutter-envelope", 48000, 256, 1.0, {},
             {{0, "Active", 1}, {0, "BPM", 300}, {0, "Beats", 1}, {0, "Division", 16},
              {0, "Attack", 0.2}, {0, "Hold", 0.5}, {0, "Release", 0.3}}, true},
            {"preset-flush", 44100, 400, 0.8,
             {{0, "Active", 1}, {0, "BPM", 200}, {0, "Beats", 3}, {0, "Division", 8}, {0, "Release", 0.6}},
             {}, true},
            {"retrigger", 44100, 128, 1.2, {},
             {{0, "Active", 1}, {0, "BPM", 180}, {0, "Beats", 1}, {0, "Division", 8},
              {13000, "Retrigger", 1}, {17000, "Retrigger", 0}, {31111, "Retrigger", 1}, {31500, "Retrigger", 0}},
             true},
            {"varispeed-down", 44100, 512, 1.0, {},
             {{0, "Active", 1}, {0, "BPM", 160}, {0, "Beats", 2}, {0, "Division", 8},
              {0, "Varispeed", 1}, {0, "Speed", 0.5}}, true},
            {"varispeed-up", 96000, 1000, 0.8, {},
             {{0, "Active", 1}, {0, "BPM", 120}, {0, "Beats", 1}, {0, "Division", 16},
              {0, "Varispeed", 1}, {0, "Speed", 2.7}}, true},
            // Switched on late, tempo and speed moved while repeating, off and on again.
            {"automation", 44100, 256, 1.5, {},
             {{5000, "Active", 1}, {5000, "BPM", 220}, {20000, "Division", 6}, {26000, "Varispeed", 1},
              {26000, "Speed", 0.75}, {40000, "Speed", 1.6}, {44100, "BPM", 97}, {52000, "Active", 0},
              {60000, "Active", 1}}, true},
        },
        {{0, "Active", 1}, {0, "BPM", 400}, {0, "Division", 16}, {0, "Attack", 0.1}, {0, "Release", 0.5},
         {0, "Varispeed", 1}, {0, "Speed", 1.3}, {2500, "Retrigger", 1}, {2600, "Retrigger", 0}});
    return table;
}

// Zivaz: hold for Downsample frames, distortion, noise before and after the hold, post clip.
const std::vector<Scenario>& zivazScenarios()
{
    static const std::vector<Scenario> table = withSweep(
        {
            {"defaults", 44100, 512, 0.5, {}, {}, false},
            {"downsample-8", 44100, 512, 0.6, {}, {{0, "Downsample", 8}}, true},
            {"distort-clip", 48000, 256, 0.6, {}, {{0, "Distort", 0.7}, {0, "Post Clip", 0.5}}, true},
            {"input-noise", 44100, 512, 0.6, {},
             {{0, "Downsample", 3}, {0, "Input Noise", 0.6}, {0, "Noise Bias", 0.2}}, true},
            {"output-noise", 44100, 512, 0.6, {},
             {{0, "Downsample", 5}, {0, "Output Noise", 0.4}, {0, "Noise Bias", 0.9}}, true},
            {"preset-flush", 44100, 400, 0.6,
             {{0, "Downsample", 12}, {0, "Distort", 0.3}, {0, "Input Noise", 0.2}, {0, "Output Noise", 0.1},
              {0, "Post Clip", 0.8}},
             {}, true},
            // Every parameter moved while the signal runs.
            {"automation", 44100, 256, 1.2, {},
             {{3000, "Downsample", 2}, {9000, "Downsample", 6}, {12000, "Distort", 0.5},
              {18000, "Input Noise", 0.3}, {22050, "Downsample", 16}, {26000, "Output Noise", 0.5},
              {30000, "Noise Bias", 0.05}, {36000, "Post Clip", 1}, {42000, "Distort", 0},
              {47000, "Downsample", 1}}, true},
        },
        {{0, "Downsample", 7}, {0, "Distort", 0.4}, {0, "Input Noise", 0.3}, {0, "Output Noise", 0.2},
         {0, "Post Clip", 0.6}, {4000, "Downsample", 11}});
    return table;
}

// Values the state round trip sets before saving, one per parameter, all
// different from the defaults.
const std::vector<Change>& stateValues(const std::string& pluginId)
{
    static const std::vector<Change> radeda = {
        {0, "Active", 1}, {0, "BPM", 133}, {0, "Beats", 3}, {0, "Division", 12}, {0, "Attack", 0.125},
        {0, "Hold", 0.3}, {0, "Release", 0.7}, {0, "Varispeed", 1}, {0, "Speed", 2.5},
    };
    static const std::vector<Change> zivaz = {
        {0, "Downsample", 9}, {0, "Noise Bias", 0.25}, {0, "Input Noise", 0.4}, {0, "Output Noise", 0.6},
        {0, "Distort", 0.35}, {0, "Post Clip", 0.9},
    };
    if (pluginId == "org.quolvan.quolvan.repeat")
        return radeda;
    if (pluginId == "org.quolvan.quolvan.crush")
        return zivaz;
    throw Failure("no scenario table for plug-in " + pluginId);
}

const std::vector<Scenario>& scenariosFor(const std::string& pluginId)
{
    if (pluginId == "org.quolvan.quolvan.repeat")
        return radedaScenarios();
    if (pluginId == "org.quolvan.quolvan.crush")
        return zivazScenarios();
    throw Failure("no scenario table for plug-in " + pluginId);
}

// ---------------------------------------------------------------------------------------------
// Synthetic input: a triangle tone on each side, noise bursts with a linear
// decay every 5000 frames (a crude drum), a slow ramp in amplitude, and a few
// samples at full scale. Integer state and float arithmetic only.

AudioBuffer syntheticInput(size_t frames, double rate)
{
    AudioBuffer b;
    b.sampleRate = rate;
    b.resize(frames);
    uint32_t rng = 0x1234567u;
    const uint32_t periodL = 173, periodR = 229;
    for (size_t i = 0; i < frames; ++i) {
        rng = rng * 1664525u + 1013904223u;
        const float white = float(int32_t(rng >> 8) - (1 << 23)) / float(1 << 23);
        const uint32_t burstPos = uint32_t(i % 5000);
        const float burst = burstPos < 1500 ? white * (1.0f - float(burstPos) / 1500.0f) : 0.0f;
        const auto triangle = [&](uint32_t period) {
            const float phase = float(i % period) / float(period);
            return phase < 0.5f ? 4.0f * phase - 1.0f : 3.0f - 4.0f * phase;
        };
        const float ramp = 0.2f + 0.6f * float(i) / float(frames);
        b.left[i] = 0.45f * ramp * triangle(periodL) + 0.4f * burst;
        b.right[i] = 0.35f * ramp * triangle(periodR) - 0.3f * burst;
        if (i % 7919 == 100)
            b.left[i] = 1.0f;
        if (i % 6007 == 50)
            b.right[i] = -1.0f;
    }
    return b;
}

// ---------------------------------------------------------------------------------------------
// Output helpers

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), std::streamsize(bytes.size()));
    if (!f)
        throw Failure("cannot write " + path);
}

std::string interleaved(const AudioBuffer& b)
{
    std::string out(b.frames() * 2 * sizeof(float), '\0');
    for (size_t i = 0; i < b.frames(); ++i) {
        std::memcpy(&out[(2 * i) * sizeof(float)], &b.left[i], sizeof(float));
        std::memcpy(&out[(2 * i + 1) * sizeof(float)], &b.right[i], sizeof(float));
    }
    return out;
}

std::string fnv1a(const std::string& bytes)
{
    uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

std::string hex(const std::vector<uint8_t>& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

const ParamInfo& param(Instance& inst, const char* name)
{
    const ParamInfo* p = inst.findParam(name);
    if (!p)
        throw Failure(std::string("the plug-in has no parameter ") + name);
    return *p;
}

std::vector<ParamEvent> asEvents(Instance& inst, const std::vector<Change>& changes)
{
    std::vector<ParamEvent> events;
    for (const Change& c : changes)
        events.push_back({param(inst, c.param).id, c.value, 0});
    return events;
}

void writeParamValues(JsonWriter& j, Instance& inst)
{
    j.beginArray();
    for (const ParamInfo& p : inst.params()) {
        const auto v = inst.getValue(p.id);
        v ? j.value(*v) : j.null();
    }
    j.endArray();
}

std::unique_ptr<Instance> newInstance(Module& module, const std::string& id)
{
    std::string error;
    InstanceOptions options;
    options.echoLogs = false;
    auto inst = Instance::create(module, id, error, options);
    if (!inst)
        throw Failure("cannot create " + id + ": " + error);
    if (!inst->init())
        throw Failure("init of " + id + " failed");
    return inst;
}

// ---------------------------------------------------------------------------------------------
// info.json

const char* const kExtensions[] = {
    // clap.timer-support is left out: the framework offers it on Linux only.
    "clap.params", "clap.state", "clap.audio-ports", "clap.gui", "clap.latency",
    "clap.note-ports", "clap.render", "clap.tail", "clap.audio-ports-config",
};

std::string describe(Module& module, const std::string& id)
{
    auto inst = newInstance(module, id);
    const clap_plugin_descriptor_t* d = inst->descriptor();

    JsonWriter j;
    j.beginObject();
    j.key("module_clap_version").value(versionString(module.clapVersion()));
    j.key("plugins_in_module").stringArray(module.pluginIds());
    j.key("descriptor").beginObject();
    j.key("id").value(d->id);
    j.key("name").value(d->name);
    j.key("vendor").value(d->vendor);
    j.key("url").value(d->url);
    j.key("manual_url").value(d->manual_url);
    j.key("support_url").value(d->support_url);
    j.key("version").value(d->version);
    j.key("description").value(d->description);
    j.key("clap_version").value(versionString(d->clap_version));
    j.key("features").stringArray(inst->features());
    j.key("problems").stringArray(descriptorProblems(d));
    j.endObject();

    j.key("extensions").beginObject();
    for (const char* ext : kExtensions)
        j.key(ext).value(inst->pluginExtension(ext) != nullptr);
    j.endObject();

    j.key("audio_ports").beginObject();
    for (bool input : {true, false}) {
        j.key(input ? "inputs" : "outputs").beginArray();
        for (const PortInfo& p : inst->audioPorts(input)) {
            writeAudioPortJson(j, p);
        }
        j.endArray();
    }
    j.endObject();

    // Each parameter with the text the plug-in shows at its minimum, default,
    // midpoint and maximum, and the value it reads back from that text.
    j.key("params").beginArray();
    for (const ParamInfo& p : inst->params()) {
        j.beginObject();
        j.key("id").value(p.id);
        j.key("name").value(p.name);
        j.key("module").value(p.module);
        j.key("min").value(p.min);
        j.key("max").value(p.max);
        j.key("default").value(p.def);
        j.key("flags").stringArray(paramFlagNames(p.flags));
        const auto value = inst->getValue(p.id);
        j.key("value");
        value ? j.value(*value) : j.null();
        j.key("texts").beginArray();
        for (double v : {p.min, p.def, 0.5 * (p.min + p.max), p.max}) {
            const auto text = inst->valueToText(p.id, v);
            j.beginObject();
            j.key("value").value(v);
            j.key("text");
            text ? j.value(*text) : j.null();
            j.key("parsed");
            const auto back = text ? inst->textToValue(p.id, *text) : std::nullopt;
            back ? j.value(*back) : j.null();
            j.endObject();
        }
        j.endArray();
        j.endObject();
    }
    j.endArray();

    // State: the default state, a changed one, and that one loaded into a new
    // instance through a stream that moves 7 bytes per call.
    j.key("state").beginObject();
    std::vector<uint8_t> saved;
    j.key("default_saved").value(inst->saveState(saved));
    j.key("default_bytes").value(hex(saved));
    if (!inst->flush(asEvents(*inst, stateValues(id))))
        throw Failure("params.flush refused the state values");
    j.key("changed_values");
    writeParamValues(j, *inst);
    saved.clear();
    j.key("changed_saved").value(inst->saveState(saved));
    j.key("changed_bytes").value(hex(saved));
    auto other = newInstance(module, id);
    j.key("loaded").value(other->loadState(saved, 7));
    j.key("loaded_values");
    writeParamValues(j, *other);
    std::vector<uint8_t> resaved;
    other->saveState(resaved, 5);
    j.key("resaved_equal").value(resaved == saved);
    j.key("junk_loaded").value(other->loadState({'n', 'o', 't', ' ', 's', 't', 'a', 't', 'e'}));
    j.key("values_after_junk");
    writeParamValues(j, *other);
    j.endObject();

    std::vector<std::string> problems = inst->problems();
    for (const std::string& p : other->problems())
        problems.push_back(p);
    j.key("problems").stringArray(problems);
    j.endObject();
    return j.str();
}

// ---------------------------------------------------------------------------------------------
// Scenarios

std::string renderAll(Module& module, const std::string& id, const std::string& outDir)
{
    const std::vector<Scenario>& table = scenariosFor(id);
    double longest = 0.0;
    for (const Scenario& s : table)
        longest = std::max(longest, s.seconds * s.rate);
    const AudioBuffer master = syntheticInput(size_t(longest), 44100.0);
    writeFile(outDir + "/input.f32", interleaved(master));

    JsonWriter j;
    j.beginObject();
    j.key("plugin").value(id);
    j.key("input_hash").value(fnv1a(interleaved(master)));
    j.key("scenarios").beginArray();
    for (const Scenario& s : table) {
        auto inst = newInstance(module, id);
        AudioBuffer input = master;
        const size_t frames = size_t(s.seconds * s.rate + 0.5);
        input.resize(frames);
        input.sampleRate = s.rate;
        if (!s.preset.empty() && !inst->flush(asEvents(*inst, s.preset)))
            throw Failure(s.name + ": params.flush refused the preset");
        std::vector<TimedParamChange> changes;
        for (const Change& c : s.changes)
            changes.push_back(TimedParamChange::atFrame(param(*inst, c.param).id, c.value, c.frame));
        AudioBuffer output;
        std::string error;
        if (!render(*inst, input, s.rate, s.block, changes, output, false, &error))
            throw Failure(s.name + ": " + error);
        const std::string bytes = interleaved(output);
        writeFile(outDir + "/" + s.name + ".f32", bytes);

        j.beginObject();
        j.key("name").value(s.name);
        j.key("rate").value(s.rate);
        j.key("block").value(s.block);
        j.key("frames").value(int64_t(frames));
        j.key("changes").value(uint32_t(s.preset.size() + s.changes.size()));
        j.key("alters").value(s.alters);
        j.key("differs_from_input").value(bytes != interleaved(input));
        j.key("hash").value(fnv1a(bytes));
        j.key("final_values");
        writeParamValues(j, *inst);
        j.key("problems").stringArray(inst->problems());
        j.endObject();
    }
    j.endArray();
    j.endObject();
    return j.str();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: clap_probe MODULE.clap OUTDIR\n");
        return 2;
    }
    try {
        const std::string path = argv[1];
        const std::string outDir = argv[2];
        std::string error;
        auto module = Module::load(path, error);
        if (!module)
            throw Failure("cannot load " + path + ": " + error);
        const std::vector<std::string> ids = module->pluginIds();
        if (ids.size() != 1)
            throw Failure(path + " holds " + std::to_string(ids.size()) + " plug-ins, expected one");
        writeFile(outDir + "/info.json", describe(*module, ids[0]));
        writeFile(outDir + "/scenarios.json", renderAll(*module, ids[0], outDir));
        std::printf("%s: wrote %s\n", ids[0].c_str(), outDir.c_str());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "clap_probe: %s\n", e.what());
        return 1;
    }
}
