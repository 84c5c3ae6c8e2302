#pragma once

// One plug-in instance, driven the way a DAW drives it: a `clap_host_t` with the
// usual host extensions, lifecycle calls on the right threads, real process calls
// with stereo buffers and event lists, parameters, ports and state.
//
// Threads: the main thread is the thread that created the Instance. Audio-thread
// calls (start_processing, process, stop_processing, and flush while active) run
// on a thread the Instance owns; the calling thread waits for each call, so the
// public methods stay synchronous and deterministic. The plug-in sees truthful
// answers from `clap.thread-check`: the audio thread is the thread currently
// inside one of those calls.
//
// Everything the host can see the plug-in do wrong is recorded as a problem
// (see problems()) and, unless echo is turned off, printed to stderr once.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "clap/ext/audio-ports.h"
#include "clap/ext/params.h"
#include "clap/plugin.h"
#include "clap/process.h"

#include "quolva/events.h"

namespace quolva::host {

class Module;

struct ParamInfo {
    clap_id id = CLAP_INVALID_ID;
    std::string name;
    std::string module;
    double min = 0.0;
    double max = 0.0;
    double def = 0.0;
    uint32_t flags = 0;
    void* cookie = nullptr;
};

struct PortInfo {
    clap_id id = CLAP_INVALID_ID;
    std::string name;
    uint32_t channels = 0;
    uint32_t flags = 0;
    bool hasPortType = false; // false when the plug-in left port_type null
    std::string portType;
    clap_id inPlacePair = CLAP_INVALID_ID;
};

struct LogEntry {
    int32_t severity = 0;
    std::string message;
};

// What the plug-in asked of the host through its callbacks and extensions.
struct HostCalls {
    std::vector<uint32_t> paramsRescanFlags;            // one entry per clap.params rescan
    std::vector<std::pair<clap_id, uint32_t>> paramsClears; // (param id, flags)
    unsigned paramsRequestFlush = 0;
    unsigned requestRestart = 0;
    unsigned requestProcess = 0;
    unsigned requestCallback = 0;
    unsigned stateMarkDirty = 0;
    unsigned latencyChanged = 0;
    std::vector<uint32_t> audioPortsRescanFlags;
    unsigned timersRegistered = 0;
    unsigned timersUnregistered = 0;
};

struct InstanceOptions {
    bool echoProblems = true; // print each new problem to stderr
    bool echoLogs = true;     // print the plug-in's log messages to stderr
};

struct Problem {
    std::string message;
    size_t count = 0; // how often it happened
};

class Instance {
public:
    // Creates the plug-in with that id through the module's factory (not yet
    // initialised). Returns null with a reason in `error` when the id is unknown or
    // the factory refuses. `module` must outlive the Instance.
    static std::unique_ptr<Instance> create(Module& module, const std::string& pluginId,
                                            std::string& error,
                                            const InstanceOptions& options = {});

    // Stops processing, deactivates and destroys the plug-in, in that order.
    ~Instance();

    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    // ---- raw access, for conformance tests and for extending the host
    const clap_plugin_t* plugin() const;
    const clap_host_t* host() const;
    Module& module() const;
    // The Instance that owns `host` (null for a foreign host pointer).
    static Instance* fromHost(const clap_host_t* host);

    // Offers another host extension to the plug-in (for example clap.gui or
    // clap.posix-fd-support from the editor code). Call before the plug-in looks
    // for it: many plug-ins do at init(), the framework's editors when the editor
    // is created. `ext` must stay valid for the Instance's lifetime. Replaces an
    // extension of the same id.
    void addHostExtension(const std::string& id, const void* ext);
    // The plug-in's extension of that id, or null.
    const void* pluginExtension(const char* id) const;
    template <typename T> const T* pluginExtension(const char* id) const
    {
        return static_cast<const T*>(pluginExtension(id));
    }

    // ---- descriptor
    const clap_plugin_descriptor_t* descriptor() const;
    std::string id() const;
    std::string name() const;
    std::string vendor() const;
    std::string version() const;
    std::string description() const;
    std::vector<std::string> features() const;

    // ---- lifecycle (main thread)
    bool init();
    bool isInitialised() const;
    bool activate(double sampleRate, uint32_t minFrames, uint32_t maxFrames);
    void deactivate();
    bool isActive() const;
    double sampleRate() const;   // of the current activation, 0 when inactive
    uint32_t maxFrames() const;  // of the current activation, 0 when inactive
    bool startProcessing();      // runs on the audio thread
    void stopProcessing();       // runs on the audio thread
    bool isProcessing() const;
    void reset();                // runs on the audio thread

    // ---- processing
    // One process call with one stereo input port and one stereo output port.
    // `in` and `out` may be the same buffers (processing in place). Outputs that do
    // not alias the inputs are filled with a marker NaN first, so samples the
    // plug-in leaves unwritten are noticed. `steady_time` counts frames since
    // activation; `transport` is null. Returns the plug-in's status, or
    // CLAP_PROCESS_ERROR without calling the plug-in when the host cannot make the
    // call (not processing, block too long); see lastError().
    clap_process_status process(const float* const in[2], float* const out[2], uint32_t frames,
                                const EventList& inEvents, EventList* outEvents);
    // The same with parameter value events only; the plug-in's parameter value
    // events are appended to `outEvents` (other kinds are checked but dropped).
    clap_process_status process(const float* const in[2], float* const out[2], uint32_t frames,
                                const std::vector<ParamEvent>& inEvents,
                                std::vector<ParamEvent>* outEvents);
    // The same without events in either direction.
    clap_process_status process(const float* const in[2], float* const out[2], uint32_t frames);
    int64_t steadyTime() const;

    // ---- parameters
    bool hasParams() const;
    // The parameter list as of init, rescanned (outside activation) after the plug-in
    // asks for an info rescan. References and pointers into it stay valid until then.
    const std::vector<ParamInfo>& params();
    const ParamInfo* paramById(clap_id id);
    // By exact name, then by id written as a decimal number ("5"), then by name
    // ignoring ASCII case. Null when nothing matches.
    const ParamInfo* findParam(const std::string& nameOrId);
    std::optional<double> getValue(clap_id id);
    std::optional<std::string> valueToText(clap_id id, double value);
    std::optional<double> textToValue(clap_id id, const std::string& text);
    // params.flush outside processing: on the main thread while inactive, on the
    // audio thread while active. Fails (false) while processing or without clap.params.
    // Output events are appended to `outEvents`.
    bool flush(const EventList& inEvents, EventList* outEvents);
    bool flush(const std::vector<ParamEvent>& inEvents, std::vector<ParamEvent>* outEvents = nullptr);

    // ---- audio ports
    bool hasAudioPorts() const;
    std::vector<PortInfo> audioPorts(bool input);

    // ---- state (main thread)
    bool hasState() const;
    // Streams move at most `chunk` bytes per read/write call (0 = no limit).
    // Return the plug-in's answer; false also when there is no clap.state.
    bool saveState(std::vector<uint8_t>& data, size_t chunk = 0);
    bool loadState(const std::vector<uint8_t>& data, size_t chunk = 0);

    // ---- main-thread services
    // Fires every registered timer once, in registration order; returns how many fired.
    size_t pumpTimers();
    std::vector<clap_id> timers() const;
    // Calls on_main_thread when the plug-in asked for it; returns whether it did.
    bool pumpCallback();
    // pumpCallback() then pumpTimers(), as a host's idle loop would.
    void idle();

    // ---- diagnostics
    std::vector<std::string> problems() const;
    std::vector<Problem> problemDetails() const;
    void clearProblems();
    // Records a problem noticed by host code outside the Instance (for example the
    // editor's clap.gui callbacks), the same way the Instance records its own.
    void reportProblem(const std::string& message);
    std::vector<LogEntry> logs() const;
    HostCalls hostCalls() const;
    // Why the last host-side operation failed (host misuse or a refusal), or empty.
    const std::string& lastError() const;
    // Print problems / plug-in log messages to stderr as they arrive (both on by default).
    void setEcho(bool problems, bool logs);

    // Thread roles as the plug-in sees them through clap.thread-check.
    bool isMainThread() const;
    bool isAudioThread() const;

    struct Impl; // internal; public only so the C callbacks can reach it

private:
    explicit Instance(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> d;
};

// Flag words: "stepped", "automatable", ...; unknown bits as "0x...".
std::vector<std::string> paramFlagNames(uint32_t flags);
std::vector<std::string> audioPortFlagNames(uint32_t flags);

} // namespace quolva::host
