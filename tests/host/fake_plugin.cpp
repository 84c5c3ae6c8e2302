// A small hand-written CLAP module for testing the host without our real plug-ins:
// a stereo gain with two parameters ("Gain" id 10, "Mute" id 20), sample-accurate
// parameter events, state, a timer, and a test-only control extension
// (fake_control.h) to switch on faults and read back what it received.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "clap/entry.h"
#include "clap/ext/audio-ports.h"
#include "clap/ext/params.h"
#include "clap/ext/state.h"
#include "clap/ext/thread-check.h"
#include "clap/ext/timer-support.h"
#include "clap/plugin-factory.h"

#include "fake_control.h"

namespace {

// The host log extension's ABI (its header is not among the framework's CLAP headers).
struct HostLog {
    void(CLAP_ABI* log)(const clap_host_t* host, int32_t severity, const char* message);
};
constexpr int32_t kSeverityWarning = 2;

uint32_t gEntryInits = 0;
uint32_t gEntryDeinits = 0;

const char* kFeatures[] = {"audio-effect", "stereo", nullptr};

const clap_plugin_descriptor_t kGainDesc = {
    CLAP_VERSION_INIT, kFakeGainId, "Fake Gain", "Quolva Test", "https://example.invalid/fake", "", "",
    "1.0.0",           "Gain for host tests",    kFeatures,
};

const clap_plugin_descriptor_t kSparseDesc = {
    CLAP_VERSION_INIT, kFakeSparseId, "Fake Sparse", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

struct QueuedOutput {
    uint32_t paramId;
    double value;
    uint32_t time;
};

class Fake {
public:
    Fake(const clap_host_t* host, const clap_plugin_descriptor_t* desc)
        : host_(host), sparse_(desc == &kSparseDesc)
    {
        plugin.desc = desc;
        plugin.plugin_data = this;
        plugin.init = [](const clap_plugin_t* p) { return self(p)->init(); };
        plugin.destroy = [](const clap_plugin_t* p) { delete self(p); };
        plugin.activate = [](const clap_plugin_t* p, double rate, uint32_t, uint32_t) {
            return self(p)->activate(rate);
        };
        plugin.deactivate = [](const clap_plugin_t* p) {
            self(p)->expectMain();
            self(p)->active_ = false;
        };
        plugin.start_processing = [](const clap_plugin_t* p) {
            self(p)->expectAudio();
            return true;
        };
        plugin.stop_processing = [](const clap_plugin_t* p) { self(p)->expectAudio(); };
        plugin.reset = [](const clap_plugin_t* p) { self(p)->expectAudio(); };
        plugin.process = [](const clap_plugin_t* p, const clap_process_t* proc) {
            return self(p)->process(proc);
        };
        plugin.get_extension = [](const clap_plugin_t* p, const char* id) { return self(p)->extension(id); };
        plugin.on_main_thread = [](const clap_plugin_t* p) {
            self(p)->expectMain();
            ++self(p)->stats_.mainThreadCallbacks;
        };
    }

    ~Fake()
    {
        if (timers_ && timerId_ != CLAP_INVALID_ID)
            timers_->unregister_timer(host_, timerId_);
    }

    clap_plugin_t plugin{};

private:
    static Fake* self(const clap_plugin_t* p) { return static_cast<Fake*>(p->plugin_data); }

    template <typename T> const T* hostExt(const char* id)
    {
        return static_cast<const T*>(host_->get_extension(host_, id));
    }

    bool init()
    {
        hostParams_ = hostExt<clap_host_params_t>(CLAP_EXT_PARAMS);
        threadCheck_ = hostExt<clap_host_thread_check_t>(CLAP_EXT_THREAD_CHECK);
        log_ = hostExt<HostLog>("clap.log");
        timers_ = hostExt<clap_host_timer_support_t>(CLAP_EXT_TIMER_SUPPORT);
        expectMain();
        if (timers_ && !timers_->register_timer(host_, 16, &timerId_))
            timerId_ = CLAP_INVALID_ID;
        return true;
    }

    bool activate(double)
    {
        expectMain();
        active_ = true;
        return true;
    }

    void expectMain()
    {
        if (!threadCheck_)
            return;
        ++stats_.threadChecks;
        if (!threadCheck_->is_main_thread(host_) || threadCheck_->is_audio_thread(host_))
            ++stats_.threadCheckFailures;
    }

    void expectAudio()
    {
        if (!threadCheck_)
            return;
        ++stats_.threadChecks;
        if (!threadCheck_->is_audio_thread(host_) || threadCheck_->is_main_thread(host_))
            ++stats_.threadCheckFailures;
    }

    // ---- events

    void apply(const clap_event_header_t* h, int64_t steadyTime, uint32_t blockFrames)
    {
        FakeReceived r{steadyTime, blockFrames, h->time, h->space_id, h->type, CLAP_INVALID_ID, 0.0};
        if (h->space_id == CLAP_CORE_EVENT_SPACE_ID && h->type == CLAP_EVENT_PARAM_VALUE
            && h->size >= sizeof(clap_event_param_value_t)) {
            const auto* pv = reinterpret_cast<const clap_event_param_value_t*>(h);
            r.paramId = pv->param_id;
            r.value = pv->value;
            if (pv->param_id == kFakeGainParam)
                gain_ = pv->value;
            else if (pv->param_id == kFakeMuteParam)
                mute_ = pv->value;
        } else if (h->space_id == CLAP_CORE_EVENT_SPACE_ID
                   && (h->type == CLAP_EVENT_PARAM_GESTURE_BEGIN || h->type == CLAP_EVENT_PARAM_GESTURE_END)
                   && h->size >= sizeof(clap_event_param_gesture_t)) {
            r.paramId = reinterpret_cast<const clap_event_param_gesture_t*>(h)->param_id;
        }
        received_.push_back(r);
    }

    static void pushValue(const clap_output_events_t* out, uint32_t paramId, double value, uint32_t time,
                          uint32_t size)
    {
        clap_event_param_value_t ev{};
        ev.header.size = size;
        ev.header.time = time;
        ev.header.space_id = CLAP_CORE_EVENT_SPACE_ID;
        ev.header.type = CLAP_EVENT_PARAM_VALUE;
        ev.param_id = paramId;
        ev.note_id = -1;
        ev.port_index = -1;
        ev.channel = -1;
        ev.key = -1;
        ev.value = value;
        out->try_push(out, &ev.header);
    }

    void pushQueued(const clap_output_events_t* out)
    {
        if (out)
            for (const QueuedOutput& q : queued_)
                pushValue(out, q.paramId, q.value, q.time, sizeof(clap_event_param_value_t));
        queued_.clear();
    }

    // ---- processing

    clap_process_status process(const clap_process_t* p)
    {
        expectAudio();
        ++stats_.processCalls;
        const uint32_t n = p->frames_count;
        const uint32_t eventCount = p->in_events->size(p->in_events);
        blocks_.push_back({p->steady_time, n, eventCount});

        pushQueued(p->out_events);
        if ((faults_ & kFaultRescanFromAudio) && hostParams_)
            hostParams_->rescan(host_, CLAP_PARAM_RESCAN_VALUES);
        if ((faults_ & kFaultLogWarning) && log_)
            log_->log(host_, kSeverityWarning, "fake plug-in warning");
        if (faults_ & kFaultBadEventSize)
            pushValue(p->out_events, kFakeGainParam, gain_, 0, sizeof(clap_event_header_t));
        if (faults_ & kFaultUnknownParamEvent)
            pushValue(p->out_events, 999, 0.5, 0, sizeof(clap_event_param_value_t));

        if (p->audio_inputs_count < 1 || p->audio_outputs_count < 1 || p->audio_inputs[0].channel_count < 2
            || p->audio_outputs[0].channel_count < 2)
            return CLAP_PROCESS_ERROR;
        float* const* in = p->audio_inputs[0].data32;
        float* const* out = p->audio_outputs[0].data32;

        // Sample-accurate: an event applies from its own frame on.
        uint32_t next = 0;
        for (uint32_t i = 0; i < n; ++i) {
            while (next < eventCount) {
                const clap_event_header_t* h = p->in_events->get(p->in_events, next);
                if (h->time > i)
                    break;
                apply(h, p->steady_time, n);
                ++next;
            }
            const float g = mute_ >= 0.5 ? 0.0f : float(gain_);
            const float l = in[0][i] * g;
            const float r = in[1][i] * g;
            if (!((faults_ & kFaultLeaveLastFrame) && i + 1 == n))
                out[0][i] = l;
            out[1][i] = r;
        }
        for (; next < eventCount; ++next)
            apply(p->in_events->get(p->in_events, next), p->steady_time, n);

        if ((faults_ & kFaultWriteNaN) && n > 0)
            out[0][0] = std::nanf("");
        if ((faults_ & kFaultWriteInput) && n > 0 && in[0] != out[0])
            in[0][0] += 1.0f;
        return (faults_ & kFaultReturnError) ? CLAP_PROCESS_ERROR : CLAP_PROCESS_CONTINUE;
    }

    // ---- parameters

    static bool paramInfo(uint32_t index, clap_param_info_t* info)
    {
        std::memset(info, 0, sizeof *info);
        if (index == 0) {
            info->id = kFakeGainParam;
            info->flags = CLAP_PARAM_IS_AUTOMATABLE;
            std::snprintf(info->name, sizeof info->name, "Gain");
            std::snprintf(info->module, sizeof info->module, "Main");
            info->min_value = 0.0;
            info->max_value = 2.0;
            info->default_value = 1.0;
            return true;
        }
        if (index == 1) {
            info->id = kFakeMuteParam;
            info->flags = CLAP_PARAM_IS_STEPPED | CLAP_PARAM_IS_AUTOMATABLE;
            std::snprintf(info->name, sizeof info->name, "Mute");
            info->min_value = 0.0;
            info->max_value = 1.0;
            info->default_value = 0.0;
            return true;
        }
        return false;
    }

    bool getValue(clap_id id, double* v) const
    {
        if (id == kFakeGainParam)
            *v = gain_;
        else if (id == kFakeMuteParam)
            *v = mute_;
        else
            return false;
        return true;
    }

    static bool valueToText(clap_id id, double v, char* out, uint32_t size)
    {
        if (id == kFakeGainParam)
            std::snprintf(out, size, "%.3f", v);
        else if (id == kFakeMuteParam)
            std::snprintf(out, size, "%s", v >= 0.5 ? "on" : "off");
        else
            return false;
        return true;
    }

    static bool textToValue(clap_id id, const char* text, double* v)
    {
        if (id == kFakeMuteParam) {
            if (!std::strcmp(text, "on") || !std::strcmp(text, "1"))
                *v = 1.0;
            else if (!std::strcmp(text, "off") || !std::strcmp(text, "0"))
                *v = 0.0;
            else
                return false;
            return true;
        }
        if (id == kFakeGainParam) {
            char* end = nullptr;
            *v = std::strtod(text, &end);
            return end != text && *end == 0;
        }
        return false;
    }

    void flush(const clap_input_events_t* in, const clap_output_events_t* out)
    {
        if (active_)
            expectAudio();
        else
            expectMain();
        ++stats_.flushCalls;
        if (threadCheck_ && threadCheck_->is_audio_thread(host_))
            ++stats_.flushesOnAudioThread;
        pushQueued(out);
        const uint32_t n = in->size(in);
        for (uint32_t i = 0; i < n; ++i)
            apply(in->get(in, i), -1, 0);
    }

    // ---- state

    bool save(const clap_ostream_t* stream)
    {
        expectMain();
        if (faults_ & kFaultRefuseState)
            return false;
        char buf[128];
        const int len = std::snprintf(buf, sizeof buf, "quolva-fake 1\ngain=%.17g\nmute=%.17g\n", gain_, mute_);
        size_t done = 0;
        while (done < size_t(len)) {
            const int64_t w = stream->write(stream, buf + done, uint64_t(len) - done);
            ++stats_.stateWriteCalls;
            if (w <= 0)
                return false;
            stats_.largestWrite = std::max<uint64_t>(stats_.largestWrite, uint64_t(w));
            done += size_t(w);
        }
        return true;
    }

    bool load(const clap_istream_t* stream)
    {
        expectMain();
        if (faults_ & kFaultRefuseState)
            return false;
        std::string text;
        char buf[64];
        for (;;) {
            const int64_t r = stream->read(stream, buf, sizeof buf);
            ++stats_.stateReadCalls;
            if (r < 0)
                return false;
            if (r == 0)
                break;
            stats_.largestRead = std::max<uint64_t>(stats_.largestRead, uint64_t(r));
            text.append(buf, size_t(r));
            if (text.size() > 4096)
                return false;
        }
        double g = 0.0;
        double m = 0.0;
        int used = 0;
        if (std::sscanf(text.c_str(), "quolva-fake 1\ngain=%lf\nmute=%lf\n%n", &g, &m, &used) != 2
            || size_t(used) != text.size() || !(g >= 0.0 && g <= 2.0) || !(m >= 0.0 && m <= 1.0))
            return false;
        gain_ = g;
        mute_ = m;
        if (hostParams_)
            hostParams_->rescan(host_, CLAP_PARAM_RESCAN_VALUES);
        return true;
    }

    // ---- extensions

    const void* extension(const char* id)
    {
        static const clap_plugin_params_t params = {
            [](const clap_plugin_t*) -> uint32_t { return 2; },
            [](const clap_plugin_t*, uint32_t i, clap_param_info_t* info) { return paramInfo(i, info); },
            [](const clap_plugin_t* p, clap_id id, double* v) { return self(p)->getValue(id, v); },
            [](const clap_plugin_t*, clap_id id, double v, char* out, uint32_t size) {
                return valueToText(id, v, out, size);
            },
            [](const clap_plugin_t*, clap_id id, const char* text, double* v) { return textToValue(id, text, v); },
            [](const clap_plugin_t* p, const clap_input_events_t* in, const clap_output_events_t* out) {
                self(p)->flush(in, out);
            },
        };
        static const clap_plugin_state_t state = {
            [](const clap_plugin_t* p, const clap_ostream_t* s) { return self(p)->save(s); },
            [](const clap_plugin_t* p, const clap_istream_t* s) { return self(p)->load(s); },
        };
        static const clap_plugin_audio_ports_t ports = {
            [](const clap_plugin_t*, bool) -> uint32_t { return 1; },
            [](const clap_plugin_t* p, uint32_t index, bool isInput, clap_audio_port_info_t* info) {
                if (index != 0)
                    return false;
                info->id = 0;
                std::snprintf(info->name, sizeof info->name, isInput ? "Main In" : "Main Out");
                info->flags = CLAP_AUDIO_PORT_IS_MAIN;
                info->channel_count = 2;
                info->port_type = self(p)->sparse_ ? nullptr : CLAP_PORT_STEREO;
                info->in_place_pair = 0;
                return true;
            },
        };
        static const clap_plugin_timer_support_t timer = {
            [](const clap_plugin_t* p, clap_id) {
                self(p)->expectMain();
                ++self(p)->stats_.timerFires;
            },
        };
        static const FakeControl control = {
            [](const clap_plugin_t* p, uint32_t faults) { self(p)->faults_ = faults; },
            [](const clap_plugin_t* p, uint32_t id, double value, uint32_t time) {
                self(p)->queued_.push_back({id, value, time});
            },
            [](const clap_plugin_t* p) { self(p)->host_->request_callback(self(p)->host_); },
            [](const clap_plugin_t* p) { return uint32_t(self(p)->received_.size()); },
            [](const clap_plugin_t* p, uint32_t i, FakeReceived* out) {
                if (i >= self(p)->received_.size())
                    return false;
                *out = self(p)->received_[i];
                return true;
            },
            [](const clap_plugin_t* p) { return uint32_t(self(p)->blocks_.size()); },
            [](const clap_plugin_t* p, uint32_t i, FakeBlock* out) {
                if (i >= self(p)->blocks_.size())
                    return false;
                *out = self(p)->blocks_[i];
                return true;
            },
            [](const clap_plugin_t* p, FakeStats* out) {
                *out = self(p)->stats_;
                out->entryInits = gEntryInits;
                out->entryDeinits = gEntryDeinits;
            },
        };
        if (!std::strcmp(id, CLAP_EXT_PARAMS))
            return &params;
        if (!std::strcmp(id, CLAP_EXT_STATE))
            return &state;
        if (!std::strcmp(id, CLAP_EXT_AUDIO_PORTS))
            return &ports;
        if (!std::strcmp(id, CLAP_EXT_TIMER_SUPPORT))
            return &timer;
        if (!std::strcmp(id, kFakeControlExt))
            return &control;
        return nullptr;
    }

    const clap_host_t* host_;
    bool sparse_;
    const clap_host_params_t* hostParams_ = nullptr;
    const clap_host_thread_check_t* threadCheck_ = nullptr;
    const HostLog* log_ = nullptr;
    const clap_host_timer_support_t* timers_ = nullptr;
    clap_id timerId_ = CLAP_INVALID_ID;
    bool active_ = false;
    double gain_ = 1.0;
    double mute_ = 0.0;
    uint32_t faults_ = 0;
    std::vector<QueuedOutput> queued_;
    std::vector<FakeReceived> received_;
    std::vector<FakeBlock> blocks_;
    FakeStats stats_{};
};

const clap_plugin_factory_t kFactory = {
    [](const clap_plugin_factory_t*) -> uint32_t { return 2; },
    [](const clap_plugin_factory_t*, uint32_t index) -> const clap_plugin_descriptor_t* {
        return index == 0 ? &kGainDesc : index == 1 ? &kSparseDesc : nullptr;
    },
    [](const clap_plugin_factory_t*, const clap_host_t* host, const char* id) -> const clap_plugin_t* {
        if (!host || !id || !clap_version_is_compatible(host->clap_version))
            return nullptr;
        const clap_plugin_descriptor_t* desc = !std::strcmp(id, kFakeGainId)     ? &kGainDesc
                                               : !std::strcmp(id, kFakeSparseId) ? &kSparseDesc
                                                                                 : nullptr;
        if (!desc)
            return nullptr;
        return &(new Fake(host, desc))->plugin;
    },
};

} // namespace

extern "C" CLAP_EXPORT const clap_plugin_entry_t clap_entry = {
    CLAP_VERSION_INIT,
    [](const char*) {
        ++gEntryInits;
        return true;
    },
    [] { ++gEntryDeinits; },
    [](const char* factoryId) -> const void* {
        return !std::strcmp(factoryId, CLAP_PLUGIN_FACTORY_ID) ? &kFactory : nullptr;
    },
};
