// quolva-host: loads a CLAP module and inspects it, renders sound files through it,
// or saves and restores its state, the way a DAW would drive it.

#include <charconv>
#include <cmath>
#include <cstdio>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "quolva/audio_file.h"
#include "quolva/host.h"
#ifdef QUOLVA_HOST_HAS_EDITOR
#    include "quolva/editor.h"
#endif

using namespace quolva::host;

namespace {

const char kUsage[] =
    "usage:\n"
    "  quolva-host info PLUGIN.clap [--id ID] [--json] [--strict]\n"
    "  quolva-host render PLUGIN.clap IN OUT.wav [--id ID] [--rate SR] [--block N] [--in-place]\n"
    "              [--format float32|pcm24|pcm16] [--set NAME=V]... [--at SECONDS NAME=V]...\n"
    "              [--at-frame F NAME=V]... [--load-state FILE] [--save-state FILE] [--chunk N]\n"
    "              [--strict]\n"
    "  quolva-host state PLUGIN.clap [--id ID] [--load FILE] [--set NAME=V]... [--save FILE]\n"
    "              [--chunk N] [--json] [--strict]\n"
#ifdef QUOLVA_HOST_HAS_EDITOR
    "  quolva-host gui PLUGIN.clap [--id ID] [--scale S] [--set NAME=V]... [--seconds N]\n"
    "              [--screenshot FILE.png] [--input FILE] [--rate SR] [--block N] [--strict]\n"
#endif
    "\n"
    "Parameters are named by name or by id. Values are numbers, or text the plug-in\n"
    "understands (\"on\"). --strict turns any problem the host notices into exit status 3.\n"
#ifdef QUOLVA_HOST_HAS_EDITOR
    "gui opens the editor in a window and processes audio (silence, or FILE in a loop)\n"
    "until the window is closed or for N seconds, printing each parameter change the\n"
    "plug-in reports; --screenshot saves the editor as it looks at the end.\n"
#endif
    ;

// Exit statuses.
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitProblems = 3;

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// ---- small parsing helpers (locale-independent)

bool parseDouble(const std::string& text, double& out)
{
    if (text.empty())
        return false;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (*first == '+')
        ++first;
    const auto res = std::from_chars(first, last, out);
    return res.ec == std::errc() && res.ptr == last;
}

uint64_t parseCount(const std::string& option, const std::string& text, uint64_t min, uint64_t max)
{
    uint64_t v = 0;
    const auto res = std::from_chars(text.data(), text.data() + text.size(), v);
    if (res.ec != std::errc() || res.ptr != text.data() + text.size() || v < min || v > max)
        throw UsageError(option + " expects a whole number from " + std::to_string(min) + " to "
                         + std::to_string(max) + ", got '" + text + "'");
    return v;
}

std::string formatValue(double v)
{
    return jsonNumber(v);
}

std::vector<uint8_t> readBytes(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    if (!f)
        throw Failure("cannot open " + path);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (f.bad())
        throw Failure("error while reading " + path);
    return data;
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& data)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f)
        throw Failure("cannot create " + path);
    f.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    f.close();
    if (!f)
        throw Failure("error while writing " + path);
}

// ---- command line

class Args {
public:
    Args(int argc, char** argv, int first)
    {
        for (int i = first; i < argc; ++i)
            items_.emplace_back(argv[i]);
    }
    bool done() const { return pos_ >= items_.size(); }
    std::string next() { return items_[pos_++]; }
    std::string value(const std::string& option)
    {
        if (done())
            throw UsageError(option + " needs a value");
        return next();
    }

private:
    std::vector<std::string> items_;
    size_t pos_ = 0;
};

struct Assignment {
    std::string text; // NAME=V as given
    double seconds = 0.0;
    int64_t frame = -1;
};

struct Options {
    std::vector<std::string> positional;
    std::string id;
    bool json = false;
    bool strict = false;
    // render
    double rate = 0.0;
    uint32_t block = 512;
    bool inPlace = false;
    SampleFormat format = SampleFormat::Float32;
    std::string loadState;
    std::string saveState;
    // state and render
    std::vector<Assignment> changes;
    size_t chunk = 0;
    // gui
    double scale = 1.0;
    double seconds = -1.0; // until the window is closed
    std::string screenshot;
    std::string input;
};

Options parseOptions(Args& args, const std::string& command)
{
    Options o;
    const bool render = command == "render";
    const bool state = command == "state";
    const bool gui = command == "gui";
    while (!args.done()) {
        const std::string a = args.next();
        if (a.size() < 2 || a.compare(0, 2, "--") != 0) {
            o.positional.push_back(a);
        } else if (a == "--id") {
            o.id = args.value(a);
        } else if (a == "--strict") {
            o.strict = true;
        } else if (a == "--json" && !render && !gui) {
            o.json = true;
        } else if (a == "--set" && (render || state || gui)) {
            o.changes.push_back({args.value(a), 0.0, 0});
        } else if (a == "--chunk" && (render || state)) {
            o.chunk = size_t(parseCount(a, args.value(a), 0, uint64_t(1) << 30));
        } else if (a == "--rate" && (render || gui)) {
            const std::string v = args.value(a);
            if (!parseDouble(v, o.rate) || !(o.rate >= 1.0) || o.rate != std::round(o.rate)
                || o.rate > 2147483647.0)
                throw UsageError("--rate expects a whole number of hertz, got '" + v + "'");
        } else if (a == "--block" && (render || gui)) {
            o.block = uint32_t(parseCount(a, args.value(a), 1, 1u << 20));
        } else if (a == "--in-place" && render) {
            o.inPlace = true;
        } else if (a == "--format" && render) {
            const std::string v = args.value(a);
            if (!parseSampleFormat(v, o.format))
                throw UsageError("--format expects float32, pcm24 or pcm16, got '" + v + "'");
        } else if (a == "--at" && render) {
            const std::string t = args.value(a);
            double seconds = 0.0;
            if (!parseDouble(t, seconds) || !(seconds >= 0.0) || !std::isfinite(seconds))
                throw UsageError("--at expects a time in seconds (>= 0), got '" + t + "'");
            o.changes.push_back({args.value("--at " + t), seconds, -1});
        } else if (a == "--at-frame" && render) {
            const std::string f = args.value(a);
            const auto frame = int64_t(parseCount(a, f, 0, uint64_t(1) << 62));
            o.changes.push_back({args.value("--at-frame " + f), 0.0, frame});
        } else if (a == "--load-state" && render) {
            o.loadState = args.value(a);
        } else if (a == "--save-state" && render) {
            o.saveState = args.value(a);
        } else if (a == "--scale" && gui) {
            const std::string v = args.value(a);
            if (!parseDouble(v, o.scale) || !(o.scale >= 0.25 && o.scale <= 8.0))
                throw UsageError("--scale expects a factor from 0.25 to 8, got '" + v + "'");
        } else if (a == "--seconds" && gui) {
            const std::string v = args.value(a);
            if (!parseDouble(v, o.seconds) || !(o.seconds >= 0.0 && o.seconds <= 86400.0))
                throw UsageError("--seconds expects a duration from 0 to 86400, got '" + v + "'");
        } else if (a == "--screenshot" && gui) {
            o.screenshot = args.value(a);
        } else if (a == "--input" && gui) {
            o.input = args.value(a);
        } else if (a == "--load" && state) {
            o.loadState = args.value(a);
        } else if (a == "--save" && state) {
            o.saveState = args.value(a);
        } else {
            throw UsageError("unknown option " + a + " for '" + command + "'");
        }
    }
    return o;
}

// ---- the plug-in

struct Session {
    // Declared in this order so the instance goes before its module.
    std::unique_ptr<Module> module;
    std::unique_ptr<Instance> instance;
};

Session openPlugin(const std::string& path, const std::string& requestedId)
{
    Session s;
    std::string error;
    s.module = Module::load(path, error);
    if (!s.module)
        throw Failure(error);
    std::string id = requestedId;
    if (id.empty()) {
        const std::vector<std::string> ids = s.module->pluginIds();
        if (ids.empty())
            throw Failure(path + " offers no plug-in");
        id = ids.front();
        if (ids.size() > 1)
            std::fprintf(stderr, "quolva-host: %s offers %zu plug-ins; using %s (choose with --id)\n",
                         path.c_str(), ids.size(), id.c_str());
    }
    s.instance = Instance::create(*s.module, id, error);
    if (!s.instance)
        throw Failure(error);
    if (!s.instance->init())
        throw Failure(id + ": " + s.instance->lastError());
    return s;
}

const ParamInfo& requireParam(Instance& inst, const std::string& nameOrId)
{
    if (const ParamInfo* p = inst.findParam(nameOrId))
        return *p;
    std::string known;
    for (const ParamInfo& p : inst.params())
        known += (known.empty() ? "" : ", ") + p.name + " (" + std::to_string(p.id) + ")";
    throw Failure("unknown parameter '" + nameOrId + "'; known: " + (known.empty() ? "none" : known));
}

ParamEvent resolveAssignment(Instance& inst, const std::string& text)
{
    const size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0)
        throw UsageError("expected NAME=VALUE, got '" + text + "'");
    const ParamInfo& p = requireParam(inst, text.substr(0, eq));
    const std::string valueText = text.substr(eq + 1);
    double v = 0.0;
    if (!parseDouble(valueText, v)) {
        const std::optional<double> fromText = inst.textToValue(p.id, valueText);
        if (!fromText)
            throw Failure("'" + valueText + "' is not a value of " + p.name);
        v = *fromText;
    }
    if (!std::isfinite(v) || v < p.min || v > p.max)
        throw Failure("value " + valueText + " for " + p.name + " lies outside its range ["
                      + formatValue(p.min) + ", " + formatValue(p.max) + "]");
    return {p.id, v, 0};
}

// Prints the problem count; with --strict any problem is a failure.
int finish(Instance& inst, bool strict)
{
    const size_t n = inst.problems().size();
    if (n == 0)
        return 0;
    std::fprintf(stderr, "quolva-host: %zu problem%s noticed\n", n, n == 1 ? "" : "s");
    if (strict) {
        std::fprintf(stderr, "quolva-host: failing because of --strict\n");
        return kExitProblems;
    }
    return 0;
}

std::string joined(const std::vector<std::string>& items, const char* sep)
{
    std::string out;
    for (const std::string& s : items)
        out += (out.empty() ? "" : sep) + s;
    return out;
}

// ---- info

const char* const kKnownExtensions[] = {
    "clap.params",        "clap.state",       "clap.audio-ports", "clap.audio-ports-config",
    "clap.gui",           "clap.latency",     "clap.note-ports",  "clap.note-name",
    "clap.timer-support", "clap.posix-fd-support", "clap.render", "clap.tail",
    "clap.thread-pool",   "clap.voice-info",
};

struct ParamReport {
    ParamInfo info;
    std::optional<double> value;
    std::optional<std::string> text;
};

std::vector<ParamReport> readParams(Instance& inst)
{
    std::vector<ParamReport> out;
    for (const ParamInfo& p : inst.params()) {
        ParamReport r{p, inst.getValue(p.id), std::nullopt};
        if (r.value)
            r.text = inst.valueToText(p.id, *r.value);
        out.push_back(std::move(r));
    }
    return out;
}

void writeParamsJson(JsonWriter& j, const std::vector<ParamReport>& params, bool full)
{
    j.key("params").beginArray();
    for (const ParamReport& r : params) {
        j.beginObject();
        j.key("id").value(r.info.id);
        j.key("name").value(r.info.name);
        if (full) {
            j.key("module").value(r.info.module);
            j.key("min").value(r.info.min);
            j.key("max").value(r.info.max);
            j.key("default").value(r.info.def);
            j.key("flags").stringArray(paramFlagNames(r.info.flags));
        }
        j.key("value");
        r.value ? j.value(*r.value) : j.null();
        j.key("text");
        r.text ? j.value(*r.text) : j.null();
        j.endObject();
    }
    j.endArray();
}

void printParamsText(const std::vector<ParamReport>& params, bool full)
{
    for (const ParamReport& r : params) {
        const std::string value = r.value ? formatValue(*r.value) : "?";
        const std::string text = r.text ? " (" + *r.text + ")" : "";
        if (full) {
            std::printf("  %4u  %-20s", unsigned(r.info.id), r.info.name.c_str());
            if (!r.info.module.empty())
                std::printf("  module %s", r.info.module.c_str());
            std::printf("  min %s  max %s  default %s  [%s]  = %s%s\n", formatValue(r.info.min).c_str(),
                        formatValue(r.info.max).c_str(), formatValue(r.info.def).c_str(),
                        joined(paramFlagNames(r.info.flags), ", ").c_str(), value.c_str(), text.c_str());
        } else {
            std::printf("  %4u  %-20s = %s%s\n", unsigned(r.info.id), r.info.name.c_str(), value.c_str(),
                        text.c_str());
        }
    }
}

int commandInfo(Args& args)
{
    const Options o = parseOptions(args, "info");
    if (o.positional.size() != 1)
        throw UsageError("info takes one module path");
    Session s = openPlugin(o.positional[0], o.id);
    Instance& inst = *s.instance;
    const clap_plugin_descriptor_t* d = inst.descriptor();

    std::vector<std::pair<std::string, bool>> extensions;
    for (const char* ext : kKnownExtensions)
        extensions.emplace_back(ext, inst.pluginExtension(ext) != nullptr);
    const std::vector<PortInfo> ports[2] = {inst.audioPorts(true), inst.audioPorts(false)};
    const std::vector<ParamReport> params = readParams(inst);

    if (o.json) {
        JsonWriter j;
        j.beginObject();
        j.key("module").value(s.module->path());
        j.key("module_clap_version").value(versionString(s.module->clapVersion()));
        j.key("plugins_in_module").stringArray(s.module->pluginIds());
        j.key("id").value(d->id);
        j.key("name").value(d->name);
        j.key("vendor").value(d->vendor);
        j.key("version").value(d->version);
        j.key("description").value(d->description);
        j.key("url").value(d->url);
        j.key("manual_url").value(d->manual_url);
        j.key("support_url").value(d->support_url);
        j.key("clap_version").value(versionString(d->clap_version));
        j.key("features");
        d->features ? j.stringArray(inst.features()) : j.null();
        j.key("extensions").beginObject();
        for (const auto& [name, offered] : extensions)
            j.key(name).value(offered);
        j.endObject();
        j.key("audio_ports").beginObject();
        for (int dir = 0; dir < 2; ++dir) {
            j.key(dir == 0 ? "inputs" : "outputs").beginArray();
            for (const PortInfo& p : ports[dir]) {
                writeAudioPortJson(j, p);
            }
            j.endArray();
        }
        j.endObject();
        writeParamsJson(j, params, true);
        j.key("problems").stringArray(inst.problems());
        j.endObject();
        std::fputs(j.str().c_str(), stdout);
    } else {
        const auto field = [](const char* label, const char* v) {
            std::printf("%-12s %s\n", label, v ? v : "(null)");
        };
        std::printf("%s: CLAP %s, %u plug-in%s\n", s.module->path().c_str(),
                    versionString(s.module->clapVersion()).c_str(), s.module->pluginCount(),
                    s.module->pluginCount() == 1 ? "" : "s");
        field("id:", d->id);
        field("name:", d->name);
        field("vendor:", d->vendor);
        field("version:", d->version);
        field("description:", d->description);
        field("url:", d->url);
        field("manual url:", d->manual_url);
        field("support url:", d->support_url);
        std::printf("%-12s %s\n", "features:",
                    d->features ? joined(inst.features(), ", ").c_str() : "(null)");
        std::printf("%-12s %s\n", "clap:", versionString(d->clap_version).c_str());
        std::vector<std::string> yes, no;
        for (const auto& [name, offered] : extensions)
            (offered ? yes : no).push_back(name);
        std::printf("extensions:  %s\n", joined(yes, " ").c_str());
        std::printf("not offered: %s\n", joined(no, " ").c_str());
        std::printf("audio ports:\n");
        for (int dir = 0; dir < 2; ++dir)
            for (const PortInfo& p : ports[dir]) {
                const std::string pair = p.inPlacePair == CLAP_INVALID_ID ? "none" : std::to_string(p.inPlacePair);
                std::printf("  %-6s %u \"%s\": %u channels, flags [%s], port_type %s, in-place pair %s\n",
                            dir == 0 ? "input" : "output", unsigned(p.id), p.name.c_str(), p.channels,
                            joined(audioPortFlagNames(p.flags), ", ").c_str(),
                            p.hasPortType ? p.portType.c_str() : "(null)", pair.c_str());
            }
        std::printf("parameters (%zu):\n", params.size());
        printParamsText(params, true);
    }
    return finish(inst, o.strict);
}

// ---- render

int commandRender(Args& args)
{
    const Options o = parseOptions(args, "render");
    if (o.positional.size() != 3)
        throw UsageError("render takes a module path, an input file and an output file");
    const std::string& inPath = o.positional[1];
    const std::string& outPath = o.positional[2];

    AudioBuffer input;
    std::string error;
    if (!readAudioFile(inPath, input, error))
        throw Failure(error);
    const double rate = o.rate > 0.0 ? o.rate : input.sampleRate;

    Session s = openPlugin(o.positional[0], o.id);
    Instance& inst = *s.instance;

    if (!o.loadState.empty() && !inst.loadState(readBytes(o.loadState), o.chunk))
        throw Failure(o.loadState + ": " + inst.lastError());

    std::vector<TimedParamChange> changes;
    for (const Assignment& a : o.changes) {
        const ParamEvent ev = resolveAssignment(inst, a.text);
        changes.push_back(a.frame >= 0 ? TimedParamChange::atFrame(ev.id, ev.value, a.frame)
                                       : TimedParamChange::atSeconds(ev.id, ev.value, a.seconds));
    }

    AudioBuffer output;
    if (!render(inst, input, rate, o.block, changes, output, o.inPlace, &error))
        throw Failure(error);
    if (!writeWavFile(outPath, output, o.format, error))
        throw Failure(error);

    if (!o.saveState.empty()) {
        std::vector<uint8_t> data;
        if (!inst.saveState(data, o.chunk))
            throw Failure(inst.lastError());
        writeBytes(o.saveState, data);
    }
    return finish(inst, o.strict);
}

// ---- state

int commandState(Args& args)
{
    const Options o = parseOptions(args, "state");
    if (o.positional.size() != 1)
        throw UsageError("state takes one module path");
    Session s = openPlugin(o.positional[0], o.id);
    Instance& inst = *s.instance;
    if (!inst.hasState())
        throw Failure(inst.id() + " offers no clap.state");

    if (!o.loadState.empty() && !inst.loadState(readBytes(o.loadState), o.chunk))
        throw Failure(o.loadState + ": " + inst.lastError());
    if (!o.changes.empty()) {
        std::vector<ParamEvent> events;
        for (const Assignment& a : o.changes)
            events.push_back(resolveAssignment(inst, a.text));
        if (!inst.flush(events))
            throw Failure(inst.lastError());
    }
    if (!o.saveState.empty()) {
        std::vector<uint8_t> data;
        if (!inst.saveState(data, o.chunk))
            throw Failure(inst.lastError());
        writeBytes(o.saveState, data);
    }

    const std::vector<ParamReport> params = readParams(inst);
    if (o.json) {
        JsonWriter j;
        j.beginObject();
        j.key("id").value(inst.id());
        writeParamsJson(j, params, false);
        j.key("problems").stringArray(inst.problems());
        j.endObject();
        std::fputs(j.str().c_str(), stdout);
    } else {
        std::printf("%s parameters:\n", inst.id().c_str());
        printParamsText(params, false);
    }
    return finish(inst, o.strict);
}

// ---- gui

#ifdef QUOLVA_HOST_HAS_EDITOR

volatile std::sig_atomic_t gStop = 0;

int commandGui(Args& args)
{
    const Options o = parseOptions(args, "gui");
    if (o.positional.size() != 1)
        throw UsageError("gui takes one module path");

    AudioBuffer input;
    std::string error;
    if (!o.input.empty() && (!readAudioFile(o.input, input, error) || input.frames() == 0))
        throw Failure(error.empty() ? o.input + " holds no audio" : error);
    const double rate = o.rate > 0.0 ? o.rate : (input.sampleRate > 0.0 ? input.sampleRate : 48000.0);

    Session s = openPlugin(o.positional[0], o.id);
    Instance& inst = *s.instance;
    Editor editor(inst);

    // The values to start from go in before the editor opens, so it shows them at once.
    if (!o.changes.empty()) {
        std::vector<ParamEvent> events;
        for (const Assignment& a : o.changes)
            events.push_back(resolveAssignment(inst, a.text));
        if (!inst.flush(events))
            throw Failure(inst.lastError());
    }
    if (!inst.activate(rate, 1, o.block) || !inst.startProcessing())
        throw Failure(inst.lastError());
    editor.setBlockFrames(o.block);
    size_t readPos = 0;
    if (input.frames() > 0)
        editor.setAudioSource([&](float* left, float* right, uint32_t frames) {
            for (uint32_t i = 0; i < frames; ++i, readPos = (readPos + 1) % input.frames()) {
                left[i] = input.left[readPos];
                right[i] = input.right[readPos];
            }
        });

    if (!editor.open(o.scale))
        throw Failure(editor.lastError());
    std::printf("editor %ux%u at scale %s\n", editor.width(), editor.height(), formatValue(o.scale).c_str());
    std::fflush(stdout);

    std::signal(SIGINT, [](int) { gStop = 1; });
    std::signal(SIGTERM, [](int) { gStop = 1; });
    const auto report = [&](const std::vector<ParamEvent>& events) {
        for (const ParamEvent& ev : events) {
            const ParamInfo* p = inst.paramById(ev.id);
            std::printf("param %u %s = %s\n", unsigned(ev.id), p ? p->name.c_str() : "?",
                        formatValue(ev.value).c_str());
        }
        if (!events.empty())
            std::fflush(stdout);
    };
    // Whole seconds at a time, so a signal or a closed window ends the run promptly.
    double left = o.seconds;
    while (!gStop && !editor.closeRequested() && (o.seconds < 0.0 || left > 0.0)) {
        const int ms = o.seconds < 0.0 ? 250 : int(std::min(left, 0.25) * 1000.0 + 0.5);
        report(editor.pump(std::max(ms, 1)));
        left -= ms / 1000.0;
    }

    if (!o.screenshot.empty()) {
        const Image shot = editor.screenshot();
        if (shot.empty())
            throw Failure("could not read the editor's window back");
        bool black = true;
        for (size_t i = 0; i < shot.rgba.size() && black; i += 4)
            black = shot.rgba[i] == 0 && shot.rgba[i + 1] == 0 && shot.rgba[i + 2] == 0;
        if (black)
            throw Failure("the editor's window reads back all black; nothing was drawn");
#ifdef QUOLVA_HOST_HAS_PNG
        if (!writePng(o.screenshot, shot, error))
            throw Failure(error);
#else
        throw Failure("this build of quolva-host cannot write PNG files");
#endif
        std::printf("screenshot %s (%ux%u)\n", o.screenshot.c_str(), shot.width, shot.height);
    }
    editor.close();
    return finish(inst, o.strict);
}

#endif

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        std::fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? kExitUsage : 0;
    }
    const std::string command = argv[1];
    Args args(argc, argv, 2);
    try {
        if (command == "info")
            return commandInfo(args);
        if (command == "render")
            return commandRender(args);
        if (command == "state")
            return commandState(args);
#ifdef QUOLVA_HOST_HAS_EDITOR
        if (command == "gui")
            return commandGui(args);
#endif
        throw UsageError("unknown command '" + command + "'");
    } catch (const UsageError& e) {
        std::fprintf(stderr, "quolva-host: %s\n\n%s", e.what(), kUsage);
        return kExitUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quolva-host: error: %s\n", e.what());
        return kExitError;
    }
}
