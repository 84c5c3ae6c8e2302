#include "quolva/instance.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "clap/ext/latency.h"
#include "clap/ext/state.h"
#include "clap/ext/thread-check.h"
#include "clap/ext/timer-support.h"

#include "quolva/clap_log.h"
#include "quolva/module.h"

#include "audio_thread.h"

namespace quolva::host {

namespace {

// Output samples are pre-filled with this quiet NaN; finding it after a process
// call means the plug-in did not write that sample.
constexpr uint32_t kUnwrittenMarker = 0x7FC5A5A5u;

float unwrittenMarker()
{
    float f;
    std::memcpy(&f, &kUnwrittenMarker, sizeof f);
    return f;
}

std::string fmtDouble(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.9g", v);
    return buf;
}

bool rangesOverlap(const float* a, const float* b, uint32_t frames)
{
    const auto pa = reinterpret_cast<uintptr_t>(a);
    const auto pb = reinterpret_cast<uintptr_t>(b);
    const uintptr_t bytes = uintptr_t(frames ? frames : 1) * sizeof(float);
    return pa < pb + bytes && pb < pa + bytes;
}

std::string lowerAscii(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

// Copies a fixed-size char array from the plug-in, stopping at the array's end
// even when the plug-in forgot the terminator.
template <size_t N> std::string boundedString(const char (&text)[N])
{
    return std::string(text, strnlen(text, N));
}

} // namespace

const char* logSeverityName(int32_t severity)
{
    switch (severity) {
    case kLogDebug: return "debug";
    case kLogInfo: return "info";
    case kLogWarning: return "warning";
    case kLogError: return "error";
    case kLogFatal: return "fatal";
    case kLogHostMisbehaving: return "host-misbehaving";
    case kLogPluginMisbehaving: return "plugin-misbehaving";
    default: return "unknown-severity";
    }
}

namespace {

// The names of the set flags, with any bits left unnamed as one hex number.
template <size_t N>
std::vector<std::string> flagNames(uint32_t flags, const std::pair<uint32_t, const char*> (&names)[N])
{
    std::vector<std::string> out;
    uint32_t known = 0;
    for (const auto& [bit, name] : names) {
        known |= bit;
        if (flags & bit)
            out.emplace_back(name);
    }
    if (flags & ~known) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%x", unsigned(flags & ~known));
        out.emplace_back(buf);
    }
    return out;
}

} // namespace

std::vector<std::string> paramFlagNames(uint32_t flags)
{
    static const std::pair<uint32_t, const char*> names[] = {
        {CLAP_PARAM_IS_STEPPED, "stepped"},
        {CLAP_PARAM_IS_PERIODIC, "periodic"},
        {CLAP_PARAM_IS_HIDDEN, "hidden"},
        {CLAP_PARAM_IS_READONLY, "readonly"},
        {CLAP_PARAM_IS_BYPASS, "bypass"},
        {CLAP_PARAM_IS_AUTOMATABLE, "automatable"},
        {CLAP_PARAM_IS_AUTOMATABLE_PER_NOTE_ID, "automatable-per-note-id"},
        {CLAP_PARAM_IS_AUTOMATABLE_PER_KEY, "automatable-per-key"},
        {CLAP_PARAM_IS_AUTOMATABLE_PER_CHANNEL, "automatable-per-channel"},
        {CLAP_PARAM_IS_AUTOMATABLE_PER_PORT, "automatable-per-port"},
        {CLAP_PARAM_IS_MODULATABLE, "modulatable"},
        {CLAP_PARAM_IS_MODULATABLE_PER_NOTE_ID, "modulatable-per-note-id"},
        {CLAP_PARAM_IS_MODULATABLE_PER_KEY, "modulatable-per-key"},
        {CLAP_PARAM_IS_MODULATABLE_PER_CHANNEL, "modulatable-per-channel"},
        {CLAP_PARAM_IS_MODULATABLE_PER_PORT, "modulatable-per-port"},
        {CLAP_PARAM_REQUIRES_PROCESS, "requires-process"},
    };
    return flagNames(flags, names);
}

std::vector<std::string> audioPortFlagNames(uint32_t flags)
{
    static const std::pair<uint32_t, const char*> names[] = {
        {CLAP_AUDIO_PORT_IS_MAIN, "main"},
        {CLAP_AUDIO_PORT_SUPPORTS_64BITS, "supports-64bits"},
        {CLAP_AUDIO_PORT_PREFERS_64BITS, "prefers-64bits"},
        {CLAP_AUDIO_PORT_REQUIRES_COMMON_SAMPLE_SIZE, "requires-common-sample-size"},
    };
    return flagNames(flags, names);
}

// ---------------------------------------------------------------------------------

struct Instance::Impl {
    Instance* owner = nullptr;
    Module* module = nullptr;
    const clap_plugin_descriptor_t* desc = nullptr;
    const clap_plugin_t* plugin = nullptr;
    clap_host_t host{};
    std::string requestedId;

    std::thread::id mainThread = std::this_thread::get_id();
    std::atomic<std::thread::id> audioThreadId{}; // the thread inside an audio call
    AudioThread audio;

    mutable std::mutex extMutex;
    std::map<std::string, const void*> hostExtensions;

    const clap_plugin_params_t* params = nullptr;
    const clap_plugin_state_t* state = nullptr;
    const clap_plugin_audio_ports_t* audioPorts = nullptr;

    bool initialised = false;
    bool active = false;
    bool processing = false;
    double sampleRate = 0.0;
    uint32_t maxFrames = 0;
    int64_t steadyTime = 0;
    std::vector<float> inputCopy[2];

    std::vector<ParamInfo> paramList;
    std::vector<clap_id> sortedParamIds; // read from the audio thread while main waits
    std::atomic<bool> paramsDirty{false};

    struct Timer {
        clap_id id;
        uint32_t periodMs;
    };
    mutable std::mutex timerMutex; // never held while calling the plug-in
    std::vector<Timer> timers;
    clap_id nextTimerId = 1;
    std::atomic<bool> callbackRequested{false};

    mutable std::mutex diagMutex;
    std::vector<Problem> problems;
    std::vector<LogEntry> logs;
    HostCalls calls;
    bool echoProblems = true;
    bool echoLogs = true;

    std::string lastError;

    // ---- thread roles
    bool onMainThread() const { return std::this_thread::get_id() == mainThread; }
    bool onAudioThread() const { return std::this_thread::get_id() == audioThreadId.load(); }

    template <typename F> void runOnAudioThread(F&& fn)
    {
        audio.run([&] {
            // Restored afterwards rather than cleared, in case of a nested call.
            const std::thread::id previous = audioThreadId.exchange(std::this_thread::get_id());
            fn();
            audioThreadId.store(previous);
        });
    }

    // ---- diagnostics
    void problem(const std::string& message)
    {
        std::lock_guard<std::mutex> lock(diagMutex);
        for (Problem& p : problems) {
            if (p.message == message) {
                ++p.count;
                return;
            }
        }
        problems.push_back({message, 1});
        if (echoProblems)
            std::fprintf(stderr, "quolva-host: problem: %s\n", message.c_str());
    }

    bool fail(const std::string& why)
    {
        lastError = why;
        return false;
    }

    void requireMainThread(const char* what)
    {
        if (onMainThread())
            return;
        problem(std::string(what) + " called from "
                + (onAudioThread() ? "the audio thread" : "a thread other than the main thread")
                + "; it belongs on the main thread");
    }

    template <typename F> void record(F&& fn)
    {
        std::lock_guard<std::mutex> lock(diagMutex);
        fn(calls);
    }

    bool knownParam(clap_id id) const
    {
        return std::binary_search(sortedParamIds.begin(), sortedParamIds.end(), id);
    }
    const ParamInfo* findParamInfo(clap_id id) const
    {
        for (const ParamInfo& p : paramList)
            if (p.id == id)
                return &p;
        return nullptr;
    }

    void scanParams();
    void checkPorts();
    std::vector<PortInfo> readPorts(bool input);
};

namespace {

Instance::Impl* implOf(const clap_host_t* host);

// ---- input event list handed to the plug-in

struct InputEvents {
    clap_input_events_t iface;
    Instance::Impl* d;
    const EventList* list;
    const char* where;

    InputEvents(Instance::Impl* impl, const EventList* events, const char* context)
        : iface{this, &sizeCb, &getCb}, d(impl), list(events), where(context)
    {
    }

    static uint32_t CLAP_ABI sizeCb(const clap_input_events_t* l)
    {
        return uint32_t(static_cast<const InputEvents*>(l->ctx)->list->size());
    }
    static const clap_event_header_t* CLAP_ABI getCb(const clap_input_events_t* l, uint32_t index);
};

// ---- output event list: checks every event the plug-in pushes

struct OutputEvents {
    clap_output_events_t iface;
    Instance::Impl* d;
    EventList* target;
    uint32_t frames;
    bool inProcess;
    const char* where;
    uint32_t lastTime = 0;

    OutputEvents(Instance::Impl* impl, EventList* sink, uint32_t blockFrames, bool process,
                 const char* context)
        : iface{this, &tryPushCb}, d(impl), target(sink), frames(blockFrames), inProcess(process),
          where(context)
    {
    }

    static bool CLAP_ABI tryPushCb(const clap_output_events_t* l, const clap_event_header_t* ev)
    {
        return static_cast<OutputEvents*>(l->ctx)->push(ev);
    }

    bool push(const clap_event_header_t* ev);
};

const clap_event_header_t* CLAP_ABI InputEvents::getCb(const clap_input_events_t* l, uint32_t index)
{
    const auto* self = static_cast<const InputEvents*>(l->ctx);
    const clap_event_header_t* ev = self->list->get(index);
    if (!ev)
        self->d->problem(std::string(self->where) + ": input_events.get called with an index past the end");
    return ev;
}

bool OutputEvents::push(const clap_event_header_t* ev)
{
    const std::string ctx(where);
    if (!ev) {
        d->problem(ctx + ": out_events.try_push called with a null event");
        return false;
    }
    if (ev->size < sizeof(clap_event_header_t)) {
        d->problem(ctx + ": output event with size " + std::to_string(ev->size)
                   + ", smaller than an event header");
        return false;
    }
    if (ev->space_id != CLAP_CORE_EVENT_SPACE_ID) {
        d->problem(ctx + ": output event in event space " + std::to_string(ev->space_id)
                   + ", which the host never announced");
        return false;
    }
    const uint32_t expected = coreEventSize(ev->type);
    if (expected == 0) {
        d->problem(ctx + ": output event of unknown core type " + std::to_string(ev->type));
        return false;
    }
    if (ev->size != expected) {
        d->problem(ctx + ": output " + coreEventName(ev->type) + " event has size "
                   + std::to_string(ev->size) + ", expected " + std::to_string(expected));
        return false;
    }
    if (inProcess) {
        if (ev->time >= frames && !(frames == 0 && ev->time == 0))
            d->problem(ctx + ": output event time " + std::to_string(ev->time)
                       + " lies outside the block of " + std::to_string(frames) + " frames");
        if (ev->time < lastTime)
            d->problem(ctx + ": output events are not in time order");
        lastTime = ev->time;
    }

    bool isParamEvent = true;
    clap_id paramId = CLAP_INVALID_ID;
    if (ev->type == CLAP_EVENT_PARAM_VALUE)
        paramId = reinterpret_cast<const clap_event_param_value_t*>(ev)->param_id;
    else if (ev->type == CLAP_EVENT_PARAM_MOD)
        paramId = reinterpret_cast<const clap_event_param_mod_t*>(ev)->param_id;
    else if (ev->type == CLAP_EVENT_PARAM_GESTURE_BEGIN || ev->type == CLAP_EVENT_PARAM_GESTURE_END)
        paramId = reinterpret_cast<const clap_event_param_gesture_t*>(ev)->param_id;
    else
        isParamEvent = false;
    if (isParamEvent && !d->knownParam(paramId))
        d->problem(ctx + ": output " + coreEventName(ev->type) + " event for unknown parameter id "
                   + std::to_string(paramId));
    if (ev->type == CLAP_EVENT_PARAM_VALUE) {
        const auto* pv = reinterpret_cast<const clap_event_param_value_t*>(ev);
        if (!std::isfinite(pv->value)) {
            d->problem(ctx + ": output param-value event for id " + std::to_string(paramId)
                       + " carries a non-finite value");
        } else if (const ParamInfo* info = d->findParamInfo(paramId)) {
            if (pv->value < info->min || pv->value > info->max)
                d->problem(ctx + ": output param-value " + fmtDouble(pv->value) + " for \"" + info->name
                           + "\" lies outside its range [" + fmtDouble(info->min) + ", "
                           + fmtDouble(info->max) + "]");
        }
    }
    if (target)
        target->push(ev);
    return true;
}

// ---- state streams that move at most `chunk` bytes per call

struct OutStream {
    clap_ostream_t iface;
    std::vector<uint8_t>* data;
    size_t chunk;
    Instance::Impl* d;

    static int64_t CLAP_ABI writeCb(const clap_ostream_t* s, const void* buffer, uint64_t size)
    {
        auto* self = static_cast<OutStream*>(s->ctx);
        if (size == 0)
            return 0;
        if (!buffer) {
            self->d->problem("state save: write called with a null buffer");
            return -1;
        }
        uint64_t n = size;
        if (self->chunk && n > self->chunk)
            n = self->chunk;
        const auto* bytes = static_cast<const uint8_t*>(buffer);
        self->data->insert(self->data->end(), bytes, bytes + n);
        return int64_t(n);
    }
};

struct InStream {
    clap_istream_t iface;
    const std::vector<uint8_t>* data;
    size_t pos;
    size_t chunk;
    Instance::Impl* d;

    static int64_t CLAP_ABI readCb(const clap_istream_t* s, void* buffer, uint64_t size)
    {
        auto* self = static_cast<InStream*>(s->ctx);
        uint64_t n = std::min<uint64_t>(size, self->data->size() - self->pos);
        if (self->chunk && n > self->chunk)
            n = self->chunk;
        if (n == 0)
            return 0;
        if (!buffer) {
            self->d->problem("state load: read called with a null buffer");
            return -1;
        }
        std::memcpy(buffer, self->data->data() + self->pos, size_t(n));
        self->pos += size_t(n);
        return int64_t(n);
    }
};

// ---- host callbacks

const void* CLAP_ABI hostGetExtension(const clap_host_t* host, const char* id);

void CLAP_ABI hostRequestRestart(const clap_host_t* host)
{
    implOf(host)->record([](HostCalls& c) { ++c.requestRestart; });
}
void CLAP_ABI hostRequestProcess(const clap_host_t* host)
{
    implOf(host)->record([](HostCalls& c) { ++c.requestProcess; });
}
void CLAP_ABI hostRequestCallback(const clap_host_t* host)
{
    auto* d = implOf(host);
    d->record([](HostCalls& c) { ++c.requestCallback; });
    d->callbackRequested.store(true);
}

void CLAP_ABI paramsRescan(const clap_host_t* host, clap_param_rescan_flags flags)
{
    auto* d = implOf(host);
    d->requireMainThread("clap.params rescan");
    d->record([flags](HostCalls& c) { c.paramsRescanFlags.push_back(flags); });
    if ((flags & CLAP_PARAM_RESCAN_ALL) && d->active)
        d->problem("clap.params rescan with CLAP_PARAM_RESCAN_ALL while the plug-in is active");
    if (flags & (CLAP_PARAM_RESCAN_INFO | CLAP_PARAM_RESCAN_ALL))
        d->paramsDirty.store(true);
}
void CLAP_ABI paramsClear(const clap_host_t* host, clap_id id, clap_param_clear_flags flags)
{
    auto* d = implOf(host);
    d->requireMainThread("clap.params clear");
    d->record([id, flags](HostCalls& c) { c.paramsClears.emplace_back(id, flags); });
}
void CLAP_ABI paramsRequestFlush(const clap_host_t* host)
{
    auto* d = implOf(host);
    if (d->onAudioThread())
        d->problem("clap.params request_flush called from the audio thread");
    d->record([](HostCalls& c) { ++c.paramsRequestFlush; });
}

bool CLAP_ABI threadIsMain(const clap_host_t* host)
{
    return implOf(host)->onMainThread();
}
bool CLAP_ABI threadIsAudio(const clap_host_t* host)
{
    return implOf(host)->onAudioThread();
}

void CLAP_ABI hostLog(const clap_host_t* host, int32_t severity, const char* message)
{
    auto* d = implOf(host);
    const std::string text = message ? message : "";
    if (!message)
        d->problem("clap.log called with a null message");
    {
        std::lock_guard<std::mutex> lock(d->diagMutex);
        d->logs.push_back({severity, text});
        if (d->echoLogs)
            std::fprintf(stderr, "quolva-host: plug-in log [%s]: %s\n", logSeverityName(severity), text.c_str());
    }
    if (severity >= kLogWarning)
        d->problem(std::string("plug-in logged ") + logSeverityName(severity) + ": " + text);
}

bool CLAP_ABI timerRegister(const clap_host_t* host, uint32_t periodMs, clap_id* timerId)
{
    auto* d = implOf(host);
    d->requireMainThread("clap.timer-support register_timer");
    if (!timerId) {
        d->problem("clap.timer-support register_timer called with a null timer_id");
        return false;
    }
    clap_id id;
    {
        std::lock_guard<std::mutex> lock(d->timerMutex);
        id = d->nextTimerId++;
        d->timers.push_back({id, periodMs});
    }
    d->record([](HostCalls& c) { ++c.timersRegistered; });
    *timerId = id;
    return true;
}
bool CLAP_ABI timerUnregister(const clap_host_t* host, clap_id timerId)
{
    auto* d = implOf(host);
    d->requireMainThread("clap.timer-support unregister_timer");
    bool found = false;
    {
        std::lock_guard<std::mutex> lock(d->timerMutex);
        auto it = std::find_if(d->timers.begin(), d->timers.end(),
                               [timerId](const Instance::Impl::Timer& t) { return t.id == timerId; });
        found = it != d->timers.end();
        if (found)
            d->timers.erase(it);
    }
    if (!found) {
        d->problem("clap.timer-support unregister_timer for unknown timer id " + std::to_string(timerId));
        return false;
    }
    d->record([](HostCalls& c) { ++c.timersUnregistered; });
    return true;
}

bool CLAP_ABI audioPortsIsRescanFlagSupported(const clap_host_t* host, uint32_t)
{
    implOf(host)->requireMainThread("clap.audio-ports is_rescan_flag_supported");
    return false;
}
void CLAP_ABI audioPortsRescan(const clap_host_t* host, uint32_t flags)
{
    auto* d = implOf(host);
    d->requireMainThread("clap.audio-ports rescan");
    d->record([flags](HostCalls& c) { c.audioPortsRescanFlags.push_back(flags); });
}

void CLAP_ABI stateMarkDirty(const clap_host_t* host)
{
    auto* d = implOf(host);
    d->requireMainThread("clap.state mark_dirty");
    d->record([](HostCalls& c) { ++c.stateMarkDirty; });
}

void CLAP_ABI latencyChanged(const clap_host_t* host)
{
    auto* d = implOf(host);
    d->requireMainThread("clap.latency changed");
    d->record([](HostCalls& c) { ++c.latencyChanged; });
}

const clap_host_params_t kHostParams = {paramsRescan, paramsClear, paramsRequestFlush};
const clap_host_thread_check_t kHostThreadCheck = {threadIsMain, threadIsAudio};
const ClapHostLog kHostLog = {hostLog};
const clap_host_timer_support_t kHostTimerSupport = {timerRegister, timerUnregister};
const clap_host_audio_ports_t kHostAudioPorts = {audioPortsIsRescanFlagSupported, audioPortsRescan};
const clap_host_state_t kHostState = {stateMarkDirty};
const clap_host_latency_t kHostLatency = {latencyChanged};

Instance::Impl* implOf(const clap_host_t* host)
{
    return static_cast<Instance::Impl*>(host->host_data);
}

const void* CLAP_ABI hostGetExtension(const clap_host_t* host, const char* id)
{
    auto* d = implOf(host);
    if (!id) {
        d->problem("host get_extension called with a null id");
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(d->extMutex);
    auto it = d->hostExtensions.find(id);
    return it == d->hostExtensions.end() ? nullptr : it->second;
}

} // namespace

// ---------------------------------------------------------------------------------

void Instance::Impl::scanParams()
{
    paramsDirty.store(false);
    paramList.clear();
    sortedParamIds.clear();
    if (!params)
        return;
    if (!params->count || !params->get_info) {
        problem("clap.params has a null count or get_info");
        return;
    }
    const uint32_t n = params->count(plugin);
    for (uint32_t i = 0; i < n; ++i) {
        clap_param_info_t info;
        std::memset(&info, 0, sizeof info);
        if (!params->get_info(plugin, i, &info)) {
            problem("clap.params get_info failed for index " + std::to_string(i));
            continue;
        }
        ParamInfo p;
        p.id = info.id;
        p.name = boundedString(info.name);
        p.module = boundedString(info.module);
        p.min = info.min_value;
        p.max = info.max_value;
        p.def = info.default_value;
        p.flags = info.flags;
        p.cookie = info.cookie;

        const std::string label = "parameter " + std::to_string(p.id) + " (\"" + p.name + "\")";
        if (p.id == CLAP_INVALID_ID)
            problem("parameter at index " + std::to_string(i) + " uses CLAP_INVALID_ID as its id");
        if (std::find(sortedParamIds.begin(), sortedParamIds.end(), p.id) != sortedParamIds.end())
            problem("parameter id " + std::to_string(p.id) + " is used twice");
        if (p.name.empty())
            problem(label + " has an empty name");
        if (!std::isfinite(p.min) || !std::isfinite(p.max) || !std::isfinite(p.def))
            problem(label + " has a non-finite minimum, maximum or default");
        else if (p.min > p.max)
            problem(label + " has minimum " + fmtDouble(p.min) + " above maximum " + fmtDouble(p.max));
        else if (p.def < p.min || p.def > p.max)
            problem(label + " has default " + fmtDouble(p.def) + " outside [" + fmtDouble(p.min) + ", "
                    + fmtDouble(p.max) + "]");
        sortedParamIds.push_back(p.id);
        paramList.push_back(std::move(p));
    }
    std::sort(sortedParamIds.begin(), sortedParamIds.end());
}

std::vector<PortInfo> Instance::Impl::readPorts(bool input)
{
    std::vector<PortInfo> out;
    if (!audioPorts || !audioPorts->count || !audioPorts->get)
        return out;
    const uint32_t n = audioPorts->count(plugin, input);
    for (uint32_t i = 0; i < n; ++i) {
        clap_audio_port_info_t info;
        std::memset(&info, 0, sizeof info);
        info.id = CLAP_INVALID_ID;
        if (!audioPorts->get(plugin, i, input, &info)) {
            problem(std::string("clap.audio-ports get failed for ") + (input ? "input" : "output")
                    + " port " + std::to_string(i));
            continue;
        }
        PortInfo p;
        p.id = info.id;
        p.name = boundedString(info.name);
        p.channels = info.channel_count;
        p.flags = info.flags;
        p.hasPortType = info.port_type != nullptr;
        if (info.port_type)
            p.portType = info.port_type;
        p.inPlacePair = info.in_place_pair;
        out.push_back(std::move(p));
    }
    return out;
}

void Instance::Impl::checkPorts()
{
    if (!audioPorts) {
        problem("plug-in offers no clap.audio-ports; this host feeds one stereo input and output port");
        return;
    }
    for (bool input : {true, false}) {
        const char* dir = input ? "input" : "output";
        const std::vector<PortInfo> ports = readPorts(input);
        if (ports.size() != 1)
            problem("plug-in has " + std::to_string(ports.size()) + " " + dir
                    + " ports; this host feeds exactly one stereo " + dir + " port");
        for (size_t i = 0; i < ports.size(); ++i) {
            const PortInfo& p = ports[i];
            const std::string label = std::string(dir) + " port " + std::to_string(i) + " (\"" + p.name + "\")";
            if (!p.hasPortType)
                problem(label + " has a null port_type");
            else if ((p.portType == CLAP_PORT_STEREO && p.channels != 2)
                     || (p.portType == CLAP_PORT_MONO && p.channels != 1))
                problem(label + " has port_type \"" + p.portType + "\" but "
                        + std::to_string(p.channels) + " channels");
            if (p.channels != 2)
                problem(label + " has " + std::to_string(p.channels)
                        + " channels; this host feeds two");
        }
    }
}

// ---------------------------------------------------------------------------------

Instance::Instance(std::unique_ptr<Impl> impl)
    : d(std::move(impl))
{
    d->owner = this;
}

std::unique_ptr<Instance> Instance::create(Module& module, const std::string& pluginId,
                                           std::string& error, const InstanceOptions& options)
{
    const clap_plugin_descriptor_t* desc = module.findDescriptor(pluginId);
    if (!desc) {
        error = "no plug-in with id '" + pluginId + "' in " + module.path() + " (it offers:";
        const std::vector<std::string> ids = module.pluginIds();
        for (const std::string& id : ids)
            error += " " + id;
        error += ids.empty() ? " none)" : ")";
        return nullptr;
    }

    auto impl = std::make_unique<Impl>();
    Impl* d = impl.get();
    d->module = &module;
    d->desc = desc;
    d->requestedId = pluginId;
    d->echoProblems = options.echoProblems;
    d->echoLogs = options.echoLogs;
    d->hostExtensions = {
        {CLAP_EXT_PARAMS, &kHostParams},
        {CLAP_EXT_THREAD_CHECK, &kHostThreadCheck},
        {kClapExtLog, &kHostLog},
        {CLAP_EXT_TIMER_SUPPORT, &kHostTimerSupport},
        {CLAP_EXT_AUDIO_PORTS, &kHostAudioPorts},
        {CLAP_EXT_STATE, &kHostState},
        {CLAP_EXT_LATENCY, &kHostLatency},
    };
    d->host.clap_version = CLAP_VERSION;
    d->host.host_data = d;
    d->host.name = "Quolva Host";
    d->host.vendor = "Quolva";
    d->host.url = "";
    d->host.version = "1.0.0";
    d->host.get_extension = hostGetExtension;
    d->host.request_restart = hostRequestRestart;
    d->host.request_process = hostRequestProcess;
    d->host.request_callback = hostRequestCallback;

    for (const std::string& p : descriptorProblems(desc))
        d->problem(p);

    const clap_plugin_factory_t* factory = module.factory();
    const clap_plugin_t* plugin = factory->create_plugin(factory, &d->host, pluginId.c_str());
    if (!plugin) {
        error = "the factory refused to create '" + pluginId + "'";
        return nullptr;
    }
    if (!plugin->init || !plugin->destroy || !plugin->activate || !plugin->deactivate
        || !plugin->start_processing || !plugin->stop_processing || !plugin->reset || !plugin->process
        || !plugin->get_extension || !plugin->on_main_thread) {
        error = "plug-in '" + pluginId + "' has a null function in its clap_plugin_t";
        if (plugin->destroy)
            plugin->destroy(plugin);
        return nullptr;
    }
    d->plugin = plugin;
    if (!plugin->desc)
        d->problem("created plug-in has a null desc");
    else if (!plugin->desc->id || pluginId != plugin->desc->id)
        d->problem("created plug-in reports id '" + std::string(plugin->desc->id ? plugin->desc->id : "(null)")
                   + "' instead of '" + pluginId + "'");

    return std::unique_ptr<Instance>(new Instance(std::move(impl)));
}

Instance::~Instance()
{
    if (!d->plugin)
        return;
    if (d->processing)
        stopProcessing();
    if (d->active)
        deactivate();
    d->plugin->destroy(d->plugin);
    d->plugin = nullptr;
}

const clap_plugin_t* Instance::plugin() const { return d->plugin; }
const clap_host_t* Instance::host() const { return &d->host; }
Module& Instance::module() const { return *d->module; }

Instance* Instance::fromHost(const clap_host_t* host)
{
    if (!host || host->get_extension != hostGetExtension || !host->host_data)
        return nullptr;
    return implOf(host)->owner;
}

void Instance::addHostExtension(const std::string& id, const void* ext)
{
    std::lock_guard<std::mutex> lock(d->extMutex);
    d->hostExtensions[id] = ext;
}

const void* Instance::pluginExtension(const char* id) const
{
    return d->plugin->get_extension(d->plugin, id);
}

const clap_plugin_descriptor_t* Instance::descriptor() const { return d->desc; }

static std::string orEmpty(const char* s) { return s ? s : ""; }

std::string Instance::id() const { return orEmpty(d->desc->id); }
std::string Instance::name() const { return orEmpty(d->desc->name); }
std::string Instance::vendor() const { return orEmpty(d->desc->vendor); }
std::string Instance::version() const { return orEmpty(d->desc->version); }
std::string Instance::description() const { return orEmpty(d->desc->description); }

std::vector<std::string> Instance::features() const
{
    std::vector<std::string> out;
    if (d->desc->features)
        for (const char* const* f = d->desc->features; *f; ++f)
            out.emplace_back(*f);
    return out;
}

// ---- lifecycle

bool Instance::init()
{
    d->lastError.clear();
    if (d->initialised)
        return d->fail("init called twice");
    if (!d->plugin->init(d->plugin))
        return d->fail("the plug-in's init failed");
    d->initialised = true;
    d->params = pluginExtension<clap_plugin_params_t>(CLAP_EXT_PARAMS);
    d->state = pluginExtension<clap_plugin_state_t>(CLAP_EXT_STATE);
    d->audioPorts = pluginExtension<clap_plugin_audio_ports_t>(CLAP_EXT_AUDIO_PORTS);
    d->scanParams();
    d->checkPorts();
    return true;
}

bool Instance::isInitialised() const { return d->initialised; }

bool Instance::activate(double sampleRate, uint32_t minFrames, uint32_t maxFrames)
{
    d->lastError.clear();
    if (!d->initialised)
        return d->fail("activate before init");
    if (d->active)
        return d->fail("activate while already active");
    if (!(sampleRate > 0.0) || !std::isfinite(sampleRate))
        return d->fail("activate with sample rate " + fmtDouble(sampleRate));
    if (minFrames < 1 || minFrames > maxFrames)
        return d->fail("activate with frame counts " + std::to_string(minFrames) + ".."
                       + std::to_string(maxFrames));
    if (!d->plugin->activate(d->plugin, sampleRate, minFrames, maxFrames))
        return d->fail("the plug-in refused to activate at " + fmtDouble(sampleRate) + " Hz with blocks of "
                       + std::to_string(minFrames) + ".." + std::to_string(maxFrames) + " frames");
    d->active = true;
    d->sampleRate = sampleRate;
    d->maxFrames = maxFrames;
    d->steadyTime = 0;
    d->inputCopy[0].assign(maxFrames, 0.0f);
    d->inputCopy[1].assign(maxFrames, 0.0f);
    return true;
}

void Instance::deactivate()
{
    if (d->processing)
        stopProcessing();
    if (!d->active)
        return;
    d->plugin->deactivate(d->plugin);
    d->active = false;
    d->sampleRate = 0.0;
    d->maxFrames = 0;
}

bool Instance::isActive() const { return d->active; }
double Instance::sampleRate() const { return d->sampleRate; }
uint32_t Instance::maxFrames() const { return d->maxFrames; }

bool Instance::startProcessing()
{
    d->lastError.clear();
    if (!d->active)
        return d->fail("startProcessing while inactive");
    if (d->processing)
        return true;
    bool ok = false;
    d->runOnAudioThread([&] { ok = d->plugin->start_processing(d->plugin); });
    if (!ok)
        return d->fail("the plug-in refused to start processing");
    d->processing = true;
    return true;
}

void Instance::stopProcessing()
{
    if (!d->processing)
        return;
    d->runOnAudioThread([&] { d->plugin->stop_processing(d->plugin); });
    d->processing = false;
}

bool Instance::isProcessing() const { return d->processing; }

void Instance::reset()
{
    d->lastError.clear();
    if (!d->active) {
        d->fail("reset while inactive");
        return;
    }
    d->runOnAudioThread([&] { d->plugin->reset(d->plugin); });
}

// ---- processing

clap_process_status Instance::process(const float* const in[2], float* const out[2], uint32_t frames,
                                      const EventList& inEvents, EventList* outEvents)
{
    d->lastError.clear();
    if (!d->processing) {
        d->fail("process called while not processing");
        return CLAP_PROCESS_ERROR;
    }
    if (frames > d->maxFrames) {
        d->fail("process with " + std::to_string(frames) + " frames, more than the "
                + std::to_string(d->maxFrames) + " given to activate");
        return CLAP_PROCESS_ERROR;
    }
    if (!in || !out || !in[0] || !in[1] || !out[0] || !out[1]) {
        d->fail("process with a null channel buffer");
        return CLAP_PROCESS_ERROR;
    }

    bool inPlace = false;
    for (int i = 0; i < 2; ++i)
        for (int o = 0; o < 2; ++o)
            inPlace = inPlace || rangesOverlap(in[i], out[o], frames);

    float* inPtrs[2];
    float* outPtrs[2] = {out[0], out[1]};
    if (inPlace) {
        inPtrs[0] = const_cast<float*>(in[0]);
        inPtrs[1] = const_cast<float*>(in[1]);
    } else {
        // The plug-in reads a private copy, so writing into its inputs shows up
        // below without harming the caller's data.
        const float marker = unwrittenMarker();
        for (int c = 0; c < 2; ++c) {
            std::copy(in[c], in[c] + frames, d->inputCopy[c].begin());
            inPtrs[c] = d->inputCopy[c].data();
            std::fill(out[c], out[c] + frames, marker);
        }
    }

    clap_audio_buffer_t inBuffer{inPtrs, nullptr, 2, 0, 0};
    clap_audio_buffer_t outBuffer{outPtrs, nullptr, 2, 0, 0};
    InputEvents inList(d.get(), &inEvents, "process");
    OutputEvents outList(d.get(), outEvents, frames, true, "process");

    clap_process_t proc;
    proc.steady_time = d->steadyTime;
    proc.frames_count = frames;
    proc.transport = nullptr;
    proc.audio_inputs = &inBuffer;
    proc.audio_outputs = &outBuffer;
    proc.audio_inputs_count = 1;
    proc.audio_outputs_count = 1;
    proc.in_events = &inList.iface;
    proc.out_events = &outList.iface;

    clap_process_status status = CLAP_PROCESS_ERROR;
    d->runOnAudioThread([&] { status = d->plugin->process(d->plugin, &proc); });
    d->steadyTime += frames;

    if (status == CLAP_PROCESS_ERROR)
        d->problem("process returned CLAP_PROCESS_ERROR");
    else if (status < CLAP_PROCESS_ERROR || status > CLAP_PROCESS_SLEEP)
        d->problem("process returned unknown status " + std::to_string(status));

    for (int c = 0; c < 2; ++c) {
        bool unwritten = false;
        bool nonFinite = false;
        for (uint32_t i = 0; i < frames; ++i) {
            uint32_t bits;
            std::memcpy(&bits, &out[c][i], sizeof bits);
            if (!inPlace && bits == kUnwrittenMarker)
                unwritten = true;
            else if (!std::isfinite(out[c][i]))
                nonFinite = true;
        }
        if (unwritten)
            d->problem("process left output samples unwritten (channel " + std::to_string(c) + ")");
        if (nonFinite)
            d->problem("process wrote non-finite output samples (channel " + std::to_string(c) + ")");
        if (!inPlace && !std::equal(in[c], in[c] + frames, d->inputCopy[c].begin(),
                                    [](float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }))
            d->problem("process wrote into its input buffer (channel " + std::to_string(c) + ")");
    }
    return status;
}

clap_process_status Instance::process(const float* const in[2], float* const out[2], uint32_t frames,
                                      const std::vector<ParamEvent>& inEvents,
                                      std::vector<ParamEvent>* outEvents)
{
    const EventList inList(inEvents);
    EventList outList;
    const clap_process_status status = process(in, out, frames, inList, outEvents ? &outList : nullptr);
    if (outEvents) {
        const std::vector<ParamEvent> got = outList.paramValues();
        outEvents->insert(outEvents->end(), got.begin(), got.end());
    }
    return status;
}

clap_process_status Instance::process(const float* const in[2], float* const out[2], uint32_t frames)
{
    return process(in, out, frames, EventList(), nullptr);
}

int64_t Instance::steadyTime() const { return d->steadyTime; }

// ---- parameters

bool Instance::hasParams() const { return d->params != nullptr; }

const std::vector<ParamInfo>& Instance::params()
{
    if (d->paramsDirty.load() && !d->active)
        d->scanParams();
    return d->paramList;
}

const ParamInfo* Instance::paramById(clap_id id)
{
    params();
    return d->findParamInfo(id);
}

const ParamInfo* Instance::findParam(const std::string& nameOrId)
{
    const std::vector<ParamInfo>& list = params();
    if (nameOrId.empty())
        return nullptr;
    for (const ParamInfo& p : list)
        if (p.name == nameOrId)
            return &p;
    if (nameOrId.find_first_not_of("0123456789") == std::string::npos && nameOrId.size() <= 10) {
        const unsigned long long id = std::stoull(nameOrId);
        if (id <= 0xFFFFFFFFull)
            if (const ParamInfo* p = d->findParamInfo(clap_id(id)))
                return p;
    }
    const std::string lower = lowerAscii(nameOrId);
    for (const ParamInfo& p : list)
        if (lowerAscii(p.name) == lower)
            return &p;
    return nullptr;
}

std::optional<double> Instance::getValue(clap_id id)
{
    d->lastError.clear();
    if (!d->params || !d->params->get_value) {
        d->fail("the plug-in has no clap.params get_value");
        return std::nullopt;
    }
    double v = 0.0;
    if (!d->params->get_value(d->plugin, id, &v)) {
        if (d->knownParam(id))
            d->problem("clap.params get_value failed for parameter id " + std::to_string(id));
        d->fail("no value for parameter id " + std::to_string(id));
        return std::nullopt;
    }
    if (!std::isfinite(v))
        d->problem("clap.params get_value gave a non-finite value for parameter id " + std::to_string(id));
    return v;
}

std::optional<std::string> Instance::valueToText(clap_id id, double value)
{
    d->lastError.clear();
    if (!d->params || !d->params->value_to_text) {
        d->fail("the plug-in has no clap.params value_to_text");
        return std::nullopt;
    }
    // Filled with a non-zero byte so a missing terminator is noticed.
    char buf[CLAP_NAME_SIZE];
    std::memset(buf, '#', sizeof buf);
    if (!d->params->value_to_text(d->plugin, id, value, buf, sizeof buf)) {
        d->fail("no text for value " + fmtDouble(value) + " of parameter id " + std::to_string(id));
        return std::nullopt;
    }
    if (!std::memchr(buf, 0, sizeof buf)) {
        d->problem("clap.params value_to_text wrote no string terminator (parameter id " + std::to_string(id)
                   + ")");
        buf[sizeof buf - 1] = 0;
    }
    return std::string(buf);
}

std::optional<double> Instance::textToValue(clap_id id, const std::string& text)
{
    d->lastError.clear();
    if (!d->params || !d->params->text_to_value) {
        d->fail("the plug-in has no clap.params text_to_value");
        return std::nullopt;
    }
    double v = 0.0;
    if (!d->params->text_to_value(d->plugin, id, text.c_str(), &v)) {
        d->fail("the plug-in cannot read \"" + text + "\" as a value of parameter id " + std::to_string(id));
        return std::nullopt;
    }
    return v;
}

bool Instance::flush(const EventList& inEvents, EventList* outEvents)
{
    d->lastError.clear();
    if (!d->initialised)
        return d->fail("flush before init");
    if (!d->params || !d->params->flush)
        return d->fail("the plug-in has no clap.params flush");
    if (d->processing)
        return d->fail("flush while processing: send the events with process instead");
    InputEvents inList(d.get(), &inEvents, "flush");
    OutputEvents outList(d.get(), outEvents, 0, false, "flush");
    if (d->active)
        d->runOnAudioThread([&] { d->params->flush(d->plugin, &inList.iface, &outList.iface); });
    else
        d->params->flush(d->plugin, &inList.iface, &outList.iface);
    return true;
}

bool Instance::flush(const std::vector<ParamEvent>& inEvents, std::vector<ParamEvent>* outEvents)
{
    const EventList inList(inEvents);
    EventList outList;
    const bool ok = flush(inList, outEvents ? &outList : nullptr);
    if (outEvents) {
        const std::vector<ParamEvent> got = outList.paramValues();
        outEvents->insert(outEvents->end(), got.begin(), got.end());
    }
    return ok;
}

// ---- ports

bool Instance::hasAudioPorts() const { return d->audioPorts != nullptr; }

std::vector<PortInfo> Instance::audioPorts(bool input)
{
    return d->readPorts(input);
}

// ---- state

bool Instance::hasState() const { return d->state != nullptr; }

bool Instance::saveState(std::vector<uint8_t>& data, size_t chunk)
{
    d->lastError.clear();
    data.clear();
    if (!d->state || !d->state->save)
        return d->fail("the plug-in has no clap.state");
    OutStream os{{nullptr, &OutStream::writeCb}, &data, chunk, d.get()};
    os.iface.ctx = &os;
    if (!d->state->save(d->plugin, &os.iface))
        return d->fail("the plug-in refused to save its state");
    return true;
}

bool Instance::loadState(const std::vector<uint8_t>& data, size_t chunk)
{
    d->lastError.clear();
    if (!d->state || !d->state->load)
        return d->fail("the plug-in has no clap.state");
    InStream is{{nullptr, &InStream::readCb}, &data, 0, chunk, d.get()};
    is.iface.ctx = &is;
    if (!d->state->load(d->plugin, &is.iface))
        return d->fail("the plug-in refused the state");
    return true;
}

// ---- main-thread services

size_t Instance::pumpTimers()
{
    std::vector<Impl::Timer> due;
    {
        std::lock_guard<std::mutex> lock(d->timerMutex);
        due = d->timers;
    }
    if (due.empty())
        return 0;
    const auto* ext = pluginExtension<clap_plugin_timer_support_t>(CLAP_EXT_TIMER_SUPPORT);
    if (!ext || !ext->on_timer) {
        d->problem("plug-in registered a timer but offers no clap.timer-support on_timer");
        return 0;
    }
    // The plug-in may unregister timers from on_timer: work on a copy and skip
    // timers that have gone meanwhile.
    size_t fired = 0;
    for (const Impl::Timer& t : due) {
        bool still;
        {
            std::lock_guard<std::mutex> lock(d->timerMutex);
            still = std::any_of(d->timers.begin(), d->timers.end(),
                                [&](const Impl::Timer& x) { return x.id == t.id; });
        }
        if (!still)
            continue;
        ext->on_timer(d->plugin, t.id);
        ++fired;
    }
    return fired;
}

std::vector<clap_id> Instance::timers() const
{
    std::lock_guard<std::mutex> lock(d->timerMutex);
    std::vector<clap_id> out;
    for (const Impl::Timer& t : d->timers)
        out.push_back(t.id);
    return out;
}

bool Instance::pumpCallback()
{
    if (!d->callbackRequested.exchange(false))
        return false;
    d->plugin->on_main_thread(d->plugin);
    return true;
}

void Instance::idle()
{
    pumpCallback();
    pumpTimers();
}

// ---- diagnostics

std::vector<std::string> Instance::problems() const
{
    std::lock_guard<std::mutex> lock(d->diagMutex);
    std::vector<std::string> out;
    for (const Problem& p : d->problems)
        out.push_back(p.message);
    return out;
}

std::vector<Problem> Instance::problemDetails() const
{
    std::lock_guard<std::mutex> lock(d->diagMutex);
    return d->problems;
}

void Instance::reportProblem(const std::string& message)
{
    d->problem(message);
}

void Instance::clearProblems()
{
    std::lock_guard<std::mutex> lock(d->diagMutex);
    d->problems.clear();
}

std::vector<LogEntry> Instance::logs() const
{
    std::lock_guard<std::mutex> lock(d->diagMutex);
    return d->logs;
}

HostCalls Instance::hostCalls() const
{
    std::lock_guard<std::mutex> lock(d->diagMutex);
    return d->calls;
}

const std::string& Instance::lastError() const { return d->lastError; }

void Instance::setEcho(bool problems, bool logs)
{
    std::lock_guard<std::mutex> lock(d->diagMutex);
    d->echoProblems = problems;
    d->echoLogs = logs;
}

bool Instance::isMainThread() const { return d->onMainThread(); }
bool Instance::isAudioThread() const { return d->onAudioThread(); }

} // namespace quolva::host
