// The conformance suite's entry point, its table of modules and shared helpers.
//
// Module paths, in order of precedence:
//   --radeda=PATH, --zivaz=PATH          on the command line
//   QUOLVA_RADEDA_CLAP, QUOLVA_ZIVAZ_CLAP in the environment
//   the modules of this build tree
// The fixture folder likewise: --data=DIR, QUOLVA_CONFORMANCE_DATA, the source tree.
#include "Conformance.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <random>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace quolva::conformance {

namespace {

std::map<std::string, std::string>& commandLine()
{
    static std::map<std::string, std::string> options;
    return options;
}

std::string lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Command line, then environment, then the given default.
std::string setting(const std::string& option, const std::string& env, const char* fallback)
{
    const auto it = commandLine().find(option);
    if (it != commandLine().end())
        return it->second;
    if (const char* v = std::getenv(env.c_str()); v != nullptr && *v != '\0')
        return v;
    return fallback;
}

const char* builtPath(const std::string& name)
{
    if (name == "Radeda")
        return QUOLVA_RADEDA_CLAP_PATH;
    if (name == "Zivaz")
        return QUOLVA_ZIVAZ_CLAP_PATH;
    return "";
}

float f32(double v) { return static_cast<float>(v); }

} // namespace

const std::vector<ModuleCase>& moduleCases()
{
    static const std::vector<ModuleCase> cases = {
        {
            "Radeda",
            "org.quolvan.quolvan.repeat",
            { "audio-effect" },
            { 0, 100, 2, 4, 0, 0, 1, 1, 0, 1 },
            { { 0, 1 }, { 1, 173 }, { 2, 1 }, { 3, 16 }, { 5, 0.05 }, { 6, 0.7 }, { 7, 0.3 }, { 8, 1 }, { 9, 1.7 } },
            "radeda-framework-state.bin",
            { 1, 133, 3, 8, 0, f32(0.3), f32(0.6), 0.25, 1, 1.5 },
        },
        {
            "Zivaz",
            "org.quolvan.quolvan.crush",
            { "audio-effect", "utility", "stereo" },
            { 1, 0.5, 0, 0, 0, 0 },
            { { 0, 5 }, { 1, 0.3 }, { 2, 0.6 }, { 3, 0.4 }, { 4, 0.7 }, { 5, 0.5 } },
            "zivaz-framework-state.bin",
            { 6, f32(0.7), f32(0.1), f32(0.35), f32(0.8), f32(0.45) },
        },
    };
    return cases;
}

std::string modulePath(const ModuleCase& c)
{
    return setting(lower(c.name), "QUOLVA_" + upper(c.name) + "_CLAP", builtPath(c.name));
}

std::string dataDir()
{
    return setting("data", "QUOLVA_CONFORMANCE_DATA", QUOLVA_CONFORMANCE_DATA_DIR);
}

std::string caseName(const testing::TestParamInfo<ModuleCase>& info)
{
    return info.param.name;
}

Plugin openPlugin(const ModuleCase& c)
{
    Plugin p;
    std::string error;
    const std::string path = modulePath(c);
    p.module = host::Module::load(path, error);
    if (!p.module)
    {
        ADD_FAILURE() << "cannot load " << c.name << " from " << path << ": " << error;
        return p;
    }
    host::InstanceOptions options;
    options.echoProblems = false;
    options.echoLogs = false;
    p.instance = host::Instance::create(*p.module, c.id, error, options);
    if (!p.instance)
    {
        ADD_FAILURE() << error;
        return p;
    }
    if (!p.instance->init())
    {
        ADD_FAILURE() << "init failed: " << p.instance->lastError();
        p.instance.reset();
    }
    return p;
}

std::vector<double> parameterValues(host::Instance& p)
{
    std::vector<double> out;
    for (const host::ParamInfo& info : p.params())
        out.push_back(p.getValue(info.id).value_or(-12345.0));
    return out;
}

std::vector<ParamEvent> randomInRange(host::Instance& p, std::mt19937& rng)
{
    std::vector<ParamEvent> out;
    for (const host::ParamInfo& info : p.params())
        out.push_back({ info.id, std::uniform_real_distribution<double>(info.min, info.max)(rng) });
    return out;
}

std::vector<uint8_t> readFile(const std::string& path)
{
    std::vector<uint8_t> bytes;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
    {
        ADD_FAILURE() << "cannot open " << path;
        return bytes;
    }
    uint8_t buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
    return bytes;
}

// ---- audio

GuardedStereo::GuardedStereo(uint32_t n) : frames(n)
{
    // The block starts as NaN, so a sample the plug-in leaves unwritten shows
    // even where the host does not pre-fill outputs itself.
    float guard;
    std::memcpy(&guard, &kGuardBits, sizeof guard);
    for (int c = 0; c < 2; ++c)
    {
        ch[c].assign(n + kGuard, std::numeric_limits<float>::quiet_NaN());
        std::fill(ch[c].begin() + n, ch[c].end(), guard);
    }
}

float* const* GuardedStereo::out()
{
    fOut[0] = ch[0].data();
    fOut[1] = ch[1].data();
    return fOut;
}

const float* const* GuardedStereo::in() const
{
    fIn[0] = ch[0].data();
    fIn[1] = ch[1].data();
    return fIn;
}

void GuardedStereo::fillNoise(uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-0.8f, 0.8f);
    for (int c = 0; c < 2; ++c)
        for (uint32_t i = 0; i < frames; ++i)
        {
            const float v = d(rng);
            ch[c][i] = std::fabs(v) < 1e-20f ? 0.0f : v;
        }
}

std::string GuardedStereo::defects(bool subnormalIsDefect) const
{
    for (int c = 0; c < 2; ++c)
    {
        for (uint32_t i = 0; i < frames; ++i)
        {
            const float v = ch[c][i];
            if (!std::isfinite(v))
                return "channel " + std::to_string(c) + " sample " + std::to_string(i) + " of "
                       + std::to_string(frames) + " is not finite (unwritten or computed)";
            if (subnormalIsDefect && std::fpclassify(v) == FP_SUBNORMAL)
                return "channel " + std::to_string(c) + " sample " + std::to_string(i) + " is subnormal";
        }
        for (uint32_t i = frames; i < frames + kGuard; ++i)
        {
            uint32_t bits;
            std::memcpy(&bits, &ch[c][i], sizeof bits);
            if (bits != kGuardBits)
                return "channel " + std::to_string(c) + ": written past the block of " + std::to_string(frames)
                       + " frames, at " + std::to_string(i);
        }
    }
    return {};
}

bool GuardedStereo::sameBlock(const GuardedStereo& o) const
{
    if (frames != o.frames)
        return false;
    for (int c = 0; c < 2; ++c)
        if (std::memcmp(ch[c].data(), o.ch[c].data(), frames * sizeof(float)) != 0)
            return false;
    return true;
}

bool startAudio(host::Instance& p, double rate, uint32_t maxFrames)
{
    if (!p.activate(rate, 1, maxFrames))
    {
        ADD_FAILURE() << "activate(" << rate << ", " << maxFrames << "): " << p.lastError();
        return false;
    }
    if (!p.startProcessing())
    {
        ADD_FAILURE() << "startProcessing: " << p.lastError();
        return false;
    }
    return true;
}

// ---- events

namespace events {

namespace {
clap_event_header_t header(uint32_t size, uint16_t type, uint32_t time = 0, uint16_t space = CLAP_CORE_EVENT_SPACE_ID)
{
    return { size, time, space, type, 0 };
}
const uint8_t kSysex[] = { 0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7 };
} // namespace

void paramValue(host::EventList& l, clap_id id, double value, uint32_t time, uint16_t space)
{
    clap_event_param_value_t ev {};
    ev.header = header(sizeof ev, CLAP_EVENT_PARAM_VALUE, time, space);
    ev.param_id = id;
    ev.note_id = -1;
    ev.port_index = -1;
    ev.channel = -1;
    ev.key = -1;
    ev.value = value;
    l.pushBytes(&ev, sizeof ev);
}

void paramValueSized(host::EventList& l, clap_id id, double value, uint32_t size)
{
    // Room for a larger claimed size; the bytes past the struct are zero.
    struct { clap_event_param_value_t ev; unsigned char tail[32]; } raw {};
    raw.ev.header = header(size, CLAP_EVENT_PARAM_VALUE);
    raw.ev.param_id = id;
    raw.ev.note_id = -1;
    raw.ev.port_index = -1;
    raw.ev.channel = -1;
    raw.ev.key = -1;
    raw.ev.value = value;
    l.pushBytes(&raw, std::max<size_t>(size, sizeof(clap_event_header_t)));
}

void paramMod(host::EventList& l, clap_id id, double amount)
{
    clap_event_param_mod_t ev {};
    ev.header = header(sizeof ev, CLAP_EVENT_PARAM_MOD);
    ev.param_id = id;
    ev.note_id = -1;
    ev.port_index = -1;
    ev.channel = -1;
    ev.key = -1;
    ev.amount = amount;
    l.pushBytes(&ev, sizeof ev);
}

void gesture(host::EventList& l, clap_id id, bool begin)
{
    clap_event_param_gesture_t ev {};
    ev.header = header(sizeof ev, begin ? CLAP_EVENT_PARAM_GESTURE_BEGIN : CLAP_EVENT_PARAM_GESTURE_END);
    ev.param_id = id;
    l.pushBytes(&ev, sizeof ev);
}

void transport(host::EventList& l)
{
    clap_event_transport_t ev {};
    ev.header = header(sizeof ev, CLAP_EVENT_TRANSPORT);
    ev.flags = CLAP_TRANSPORT_HAS_TEMPO | CLAP_TRANSPORT_IS_PLAYING;
    ev.tempo = 97.0;
    ev.tsig_num = 3;
    ev.tsig_denom = 4;
    l.pushBytes(&ev, sizeof ev);
}

void midi(host::EventList& l)
{
    clap_event_midi_t ev {};
    ev.header = header(sizeof ev, CLAP_EVENT_MIDI);
    ev.data[0] = 0x90;
    ev.data[1] = 60;
    ev.data[2] = 100;
    l.pushBytes(&ev, sizeof ev);
}

void midiSysex(host::EventList& l)
{
    clap_event_midi_sysex_t ev {};
    ev.header = header(sizeof ev, CLAP_EVENT_MIDI_SYSEX);
    ev.buffer = kSysex;
    ev.size = sizeof kSysex;
    l.pushBytes(&ev, sizeof ev);
}

void midi2(host::EventList& l)
{
    clap_event_midi2_t ev {};
    ev.header = header(sizeof ev, CLAP_EVENT_MIDI2);
    ev.data[0] = 0x40903C00u;
    ev.data[1] = 0x80000000u;
    l.pushBytes(&ev, sizeof ev);
}

void note(host::EventList& l, uint16_t type)
{
    clap_event_note_t ev {};
    ev.header = header(sizeof ev, type);
    ev.note_id = -1;
    ev.key = 64;
    ev.velocity = 0.8;
    l.pushBytes(&ev, sizeof ev);
}

void noteExpression(host::EventList& l)
{
    clap_event_note_expression_t ev {};
    ev.header = header(sizeof ev, CLAP_EVENT_NOTE_EXPRESSION);
    ev.expression_id = CLAP_NOTE_EXPRESSION_TUNING;
    ev.note_id = -1;
    ev.key = 64;
    ev.value = 0.5;
    l.pushBytes(&ev, sizeof ev);
}

void unknownType(host::EventList& l)
{
    const clap_event_header_t ev = header(sizeof(clap_event_header_t), 0x7ABC);
    l.pushBytes(&ev, sizeof ev);
}

} // namespace events

// ---- standard error

#ifdef _WIN32
#define QUOLVA_DUP _dup
#define QUOLVA_DUP2 _dup2
#define QUOLVA_CLOSE _close
#define QUOLVA_FILENO _fileno
#else
#define QUOLVA_DUP dup
#define QUOLVA_DUP2 dup2
#define QUOLVA_CLOSE close
#define QUOLVA_FILENO fileno
#endif

StderrCapture::StderrCapture()
{
    std::fflush(stderr);
    fFile = std::tmpfile();
    if (fFile == nullptr)
    {
        ADD_FAILURE() << "no temporary file to capture standard error";
        fDone = true;
        return;
    }
    fSaved = QUOLVA_DUP(2);
    if (fSaved < 0 || QUOLVA_DUP2(QUOLVA_FILENO(fFile), 2) < 0)
    {
        ADD_FAILURE() << "cannot redirect standard error";
        fDone = true;
    }
}

StderrCapture::~StderrCapture()
{
    text();
    if (fFile != nullptr)
        std::fclose(fFile);
}

std::string StderrCapture::text()
{
    if (!fDone)
    {
        std::fflush(stderr);
        QUOLVA_DUP2(fSaved, 2);
        QUOLVA_CLOSE(fSaved);
        fDone = true;
    }
    std::string out;
    if (fFile == nullptr)
        return out;
    std::fseek(fFile, 0, SEEK_SET);
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, fFile)) > 0)
        out.append(buf, n);
    return out;
}

} // namespace quolva::conformance

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        const size_t eq = arg.find('=');
        if (arg.compare(0, 2, "--") != 0 || eq == std::string::npos)
        {
            std::fprintf(stderr, "unknown argument %s (expected --radeda=PATH, --zivaz=PATH or --data=DIR)\n",
                         arg.c_str());
            return 2;
        }
        const std::string key = arg.substr(2, eq - 2);
        bool known = key == "data";
        for (const auto& c : quolva::conformance::moduleCases())
            known = known || key == quolva::conformance::lower(c.name);
        if (!known)
        {
            std::fprintf(stderr, "unknown option --%s\n", key.c_str());
            return 2;
        }
        quolva::conformance::commandLine()[key] = arg.substr(eq + 1);
    }
    return RUN_ALL_TESTS();
}
