// Our module entry: a thin layer in front of the framework's CLAP wrapper that
// keeps hosts' input from reaching the wrapper where it would misbehave, and
// makes state saving and loading robust:
// - create_plugin accepts only the plug-in's own id;
// - only well-formed parameter-value events of the core event space, for
//   existing parameters and with a value a float can hold, reach the wrapper
//   (in process and in params.flush); everything else is dropped quietly;
// - parameter queries for ids that do not exist fail instead of reaching the
//   wrapper, which would print an assertion and answer with made-up data;
// - state save writes everything through streams that take a few bytes at a
//   time and reports a failing stream; state load reads the whole stream,
//   rejects empty, truncated or malformed data without touching a parameter,
//   and reads numbers the same whatever the process locale;
// - stereo ports report their port type.
// The layer reuses the wrapper's own plug-in data, so every call it does not
// change goes straight to the framework.
#include "clap/entry.h"
#include "clap/plugin-factory.h"
#include "clap/ext/audio-ports.h"
#include "clap/ext/params.h"
#include "clap/ext/state.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

extern "C" const clap_plugin_entry_t quolva_framework_clap_entry;

namespace {

const clap_plugin_factory_t* gInnerFactory = nullptr;

struct Boundary
{
    clap_plugin_t plugin;  // first member: the host's pointer is the Boundary's
    const clap_plugin_t* inner = nullptr;
    const clap_plugin_params_t* innerParams = nullptr;
    const clap_plugin_state_t* innerState = nullptr;
    const clap_plugin_audio_ports_t* innerPorts = nullptr;
    uint32_t paramCount = 0;
    // The framework's extensions with our functions in the changed places.
    clap_plugin_params_t params {};
    clap_plugin_audio_ports_t ports {};

    static Boundary* of(const clap_plugin_t* p) { return reinterpret_cast<Boundary*>(const_cast<clap_plugin_t*>(p)); }
};

// ---------------------------------------------------------------------------------------------
// Events

bool acceptedEvent(const clap_event_header_t* ev, uint32_t paramCount)
{
    if (ev == nullptr || ev->space_id != CLAP_CORE_EVENT_SPACE_ID || ev->type != CLAP_EVENT_PARAM_VALUE)
        return false;
    // The wrapper asserts (printing from the audio thread) on any other size.
    if (ev->size != sizeof(clap_event_param_value_t))
        return false;
    const auto* pv = reinterpret_cast<const clap_event_param_value_t*>(ev);
    // NaN, infinities and doubles beyond the float range mean no value at all;
    // the wrapper would store them (or convert out of range, which is undefined).
    return pv->param_id < paramCount && std::fabs(pv->value) <= FLT_MAX;
}

// A view of the host's input events that shows only the accepted ones. The
// framework reads the list in order, so a cursor makes each lookup cheap; it
// allocates nothing.
struct FilteredEvents
{
    clap_input_events_t list;
    const clap_input_events_t* source;
    uint32_t paramCount;
    uint32_t sourceSize;
    uint32_t count;
    uint32_t cursorIndex;   // filtered index of the cursor
    uint32_t cursorSource;  // its position in the source list

    FilteredEvents(const clap_input_events_t* src, uint32_t params)
        : list { this, &FilteredEvents::size, &FilteredEvents::get },
          source(src), paramCount(params), sourceSize(0), count(0), cursorIndex(0), cursorSource(0)
    {
        if (source == nullptr || source->size == nullptr || source->get == nullptr)
            return;
        sourceSize = source->size(source);
        for (uint32_t i = 0; i < sourceSize; ++i)
            if (acceptedEvent(source->get(source, i), paramCount))
                ++count;
    }

    static uint32_t CLAP_ABI size(const clap_input_events_t* l)
    {
        return static_cast<const FilteredEvents*>(l->ctx)->count;
    }

    static const clap_event_header_t* CLAP_ABI get(const clap_input_events_t* l, uint32_t index)
    {
        FilteredEvents* self = static_cast<FilteredEvents*>(l->ctx);
        if (index >= self->count)
            return nullptr;
        if (index < self->cursorIndex)
        {
            self->cursorIndex = 0;
            self->cursorSource = 0;
        }
        for (; self->cursorSource < self->sourceSize; ++self->cursorSource)
        {
            const clap_event_header_t* ev = self->source->get(self->source, self->cursorSource);
            if (!acceptedEvent(ev, self->paramCount))
                continue;
            if (self->cursorIndex == index)
                return ev;
            ++self->cursorIndex;
        }
        return nullptr;
    }
};

clap_process_status CLAP_ABI process(const clap_plugin_t* p, const clap_process_t* proc)
{
    Boundary* b = Boundary::of(p);
    if (proc == nullptr)
        return CLAP_PROCESS_ERROR;
    FilteredEvents events(proc->in_events, b->paramCount);
    clap_process_t filtered = *proc;
    filtered.in_events = &events.list;
    return b->inner->process(p, &filtered);
}

void CLAP_ABI paramsFlush(const clap_plugin_t* p, const clap_input_events_t* in, const clap_output_events_t* out)
{
    Boundary* b = Boundary::of(p);
    FilteredEvents events(in, b->paramCount);
    b->innerParams->flush(p, &events.list, out);
}

// ---------------------------------------------------------------------------------------------
// Parameter queries: the wrapper's parameter ids are the indices.

bool CLAP_ABI paramsGetInfo(const clap_plugin_t* p, uint32_t index, clap_param_info_t* info)
{
    Boundary* b = Boundary::of(p);
    return info != nullptr && index < b->paramCount && b->innerParams->get_info(p, index, info);
}

bool CLAP_ABI paramsGetValue(const clap_plugin_t* p, clap_id id, double* value)
{
    Boundary* b = Boundary::of(p);
    return value != nullptr && id < b->paramCount && b->innerParams->get_value(p, id, value);
}

bool CLAP_ABI paramsValueToText(const clap_plugin_t* p, clap_id id, double value, char* display, uint32_t size)
{
    Boundary* b = Boundary::of(p);
    // The wrapper converts integer parameters' values to int, undefined for
    // a value that is not finite.
    return display != nullptr && size > 0 && id < b->paramCount && std::isfinite(value)
           && b->innerParams->value_to_text(p, id, value, display, size);
}

bool CLAP_ABI paramsTextToValue(const clap_plugin_t* p, clap_id id, const char* display, double* value)
{
    Boundary* b = Boundary::of(p);
    return display != nullptr && value != nullptr && id < b->paramCount
           && b->innerParams->text_to_value(p, id, display, value);
}

// ---------------------------------------------------------------------------------------------
// State

// The host's stream writes a few bytes at a time, or fails.
bool writeAll(const clap_ostream_t* stream, const char* data, size_t size)
{
    while (size > 0)
    {
        const int64_t written = stream->write(stream, data, size);
        if (written <= 0 || static_cast<uint64_t>(written) > size)
            return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

struct MemoryOut
{
    clap_ostream_t stream;
    std::string bytes;

    MemoryOut() : stream { this, &MemoryOut::write } {}

    static int64_t CLAP_ABI write(const clap_ostream_t* s, const void* buffer, uint64_t size)
    {
        auto* self = static_cast<MemoryOut*>(s->ctx);
        self->bytes.append(static_cast<const char*>(buffer), static_cast<size_t>(size));
        return static_cast<int64_t>(size);
    }
};

struct MemoryIn
{
    clap_istream_t stream;
    const std::string& bytes;
    size_t offset = 0;

    explicit MemoryIn(const std::string& b) : stream { this, &MemoryIn::read }, bytes(b) {}

    static int64_t CLAP_ABI read(const clap_istream_t* s, void* buffer, uint64_t size)
    {
        auto* self = static_cast<MemoryIn*>(s->ctx);
        const size_t n = static_cast<size_t>(std::min<uint64_t>(size, self->bytes.size() - self->offset));
        std::memcpy(buffer, self->bytes.data() + self->offset, n);
        self->offset += n;
        return static_cast<int64_t>(n);
    }
};

bool CLAP_ABI stateSave(const clap_plugin_t* p, const clap_ostream_t* stream)
{
    Boundary* b = Boundary::of(p);
    if (stream == nullptr || stream->write == nullptr)
        return false;
    try
    {
        MemoryOut memory;
        if (!b->innerState->save(p, &memory.stream))
            return false;
        return writeAll(stream, memory.bytes.data(), memory.bytes.size());
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

// Saved parameter values: NUL-separated strings
//   "__dpf_parameters_begin__" (symbol value)* "__dpf_parameters_end__" then the
// terminator byte 0xFE, optionally followed by one NUL.
constexpr size_t kMaxStateBytes = 1 << 20;

struct ParsedValue { std::string symbol; double value; };

bool parseNumber(const std::string& text, double& out)
{
    if (text.empty())
        return false;
    const char* first = text.data();
    const char* last = first + text.size();
    if (*first == '+')
        ++first;
    const auto result = std::from_chars(first, last, out, std::chars_format::general);
    return result.ec == std::errc() && result.ptr == last;
}

bool parseState(const std::string& bytes, std::vector<ParsedValue>& values)
{
    std::vector<std::string> fields;
    size_t pos = 0;
    bool terminated = false;
    while (pos < bytes.size())
    {
        if (static_cast<unsigned char>(bytes[pos]) == 0xFE)
        {
            terminated = true;
            ++pos;
            break;
        }
        const size_t end = bytes.find('\0', pos);
        if (end == std::string::npos)
            return false;  // a field without its end: truncated
        fields.emplace_back(bytes, pos, end - pos);
        pos = end + 1;
    }
    if (!terminated)
        return false;
    if (pos < bytes.size() && !(pos + 1 == bytes.size() && bytes[pos] == '\0'))
        return false;  // data after the terminator
    if (fields.size() < 2 || fields.front() != "__dpf_parameters_begin__" || fields.back() != "__dpf_parameters_end__")
        return false;
    if ((fields.size() - 2) % 2 != 0)
        return false;
    for (size_t i = 1; i + 1 < fields.size(); i += 2)
    {
        ParsedValue v { fields[i], 0.0 };
        if (v.symbol.empty() || v.symbol.compare(0, 6, "__dpf_") == 0 || !parseNumber(fields[i + 1], v.value))
            return false;
        values.push_back(std::move(v));
    }
    return true;
}

// Rebuilds the state with numbers written in the process's current locale,
// which is what the framework's reader expects; the values it then reads are
// exactly the parsed ones.
std::string canonicalState(const std::vector<ParsedValue>& values)
{
    std::string out("__dpf_parameters_begin__");
    out.push_back('\0');
    for (const ParsedValue& v : values)
    {
        char number[64];
        if (std::isfinite(v.value) && std::trunc(v.value) == v.value && std::fabs(v.value) < 1e9)
            std::snprintf(number, sizeof number, "%.0f", v.value);
        else
            std::snprintf(number, sizeof number, "%.17g", v.value);
        out += v.symbol;
        out.push_back('\0');
        out += number;
        out.push_back('\0');
    }
    out += "__dpf_parameters_end__";
    out.push_back('\0');
    out.push_back(static_cast<char>(0xFE));
    out.push_back('\0');
    return out;
}

bool CLAP_ABI stateLoad(const clap_plugin_t* p, const clap_istream_t* stream)
{
    Boundary* b = Boundary::of(p);
    if (stream == nullptr || stream->read == nullptr)
        return false;
    try
    {
        std::string bytes;
        char chunk[4096];
        for (;;)
        {
            const int64_t got = stream->read(stream, chunk, sizeof chunk);
            if (got < 0 || got > static_cast<int64_t>(sizeof chunk))
                return false;
            if (got == 0)
                break;
            bytes.append(chunk, static_cast<size_t>(got));
            if (bytes.size() > kMaxStateBytes)
                return false;
        }

        std::vector<ParsedValue> values;
        if (!parseState(bytes, values))
            return false;

        const std::string canonical = canonicalState(values);
        MemoryIn memory(canonical);
        return b->innerState->load(p, &memory.stream);
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

// ---------------------------------------------------------------------------------------------
// Audio ports

bool CLAP_ABI portsGet(const clap_plugin_t* p, uint32_t index, bool isInput, clap_audio_port_info_t* info)
{
    Boundary* b = Boundary::of(p);
    if (info == nullptr || !b->innerPorts->get(p, index, isInput, info))
        return false;
    if (info->port_type == nullptr)
    {
        if (info->channel_count == 2)
            info->port_type = CLAP_PORT_STEREO;
        else if (info->channel_count == 1)
            info->port_type = CLAP_PORT_MONO;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Plug-in

const void* CLAP_ABI getExtension(const clap_plugin_t* p, const char* id)
{
    Boundary* b = Boundary::of(p);
    if (id == nullptr)
        return nullptr;
    static const clap_plugin_state_t state { stateSave, stateLoad };
    if (std::strcmp(id, CLAP_EXT_STATE) == 0)
        return b->innerState != nullptr ? &state : nullptr;
    if (std::strcmp(id, CLAP_EXT_PARAMS) == 0)
        return b->innerParams != nullptr ? &b->params : nullptr;
    if (std::strcmp(id, CLAP_EXT_AUDIO_PORTS) == 0)
        return b->innerPorts != nullptr ? &b->ports : nullptr;
    return b->inner->get_extension(p, id);
}

void CLAP_ABI destroy(const clap_plugin_t* p)
{
    Boundary* b = Boundary::of(p);
    b->inner->destroy(b->inner);
    delete b;
}

bool CLAP_ABI init(const clap_plugin_t* p)
{
    Boundary* b = Boundary::of(p);
    if (!b->inner->init(p))
        return false;
    b->innerParams = static_cast<const clap_plugin_params_t*>(b->inner->get_extension(p, CLAP_EXT_PARAMS));
    b->innerState = static_cast<const clap_plugin_state_t*>(b->inner->get_extension(p, CLAP_EXT_STATE));
    b->innerPorts = static_cast<const clap_plugin_audio_ports_t*>(b->inner->get_extension(p, CLAP_EXT_AUDIO_PORTS));
    if (b->innerParams != nullptr)
    {
        b->paramCount = b->innerParams->count(p);
        b->params = *b->innerParams;
        b->params.get_info = paramsGetInfo;
        b->params.get_value = paramsGetValue;
        b->params.value_to_text = paramsValueToText;
        b->params.text_to_value = paramsTextToValue;
        b->params.flush = paramsFlush;
    }
    if (b->innerPorts != nullptr)
    {
        b->ports = *b->innerPorts;
        b->ports.get = portsGet;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Factory and entry

uint32_t CLAP_ABI factoryCount(const clap_plugin_factory_t*)
{
    return gInnerFactory->get_plugin_count(gInnerFactory);
}

const clap_plugin_descriptor_t* CLAP_ABI factoryDescriptor(const clap_plugin_factory_t*, uint32_t index)
{
    return gInnerFactory->get_plugin_descriptor(gInnerFactory, index);
}

const clap_plugin_t* CLAP_ABI factoryCreate(const clap_plugin_factory_t*, const clap_host_t* host, const char* id)
{
    if (host == nullptr || id == nullptr)
        return nullptr;
    const clap_plugin_descriptor_t* desc = gInnerFactory->get_plugin_descriptor(gInnerFactory, 0);
    if (desc == nullptr || desc->id == nullptr || std::strcmp(desc->id, id) != 0)
        return nullptr;

    const clap_plugin_t* inner = gInnerFactory->create_plugin(gInnerFactory, host, id);
    if (inner == nullptr)
        return nullptr;
    Boundary* b = new (std::nothrow) Boundary;
    if (b == nullptr)
    {
        inner->destroy(inner);
        return nullptr;
    }
    b->inner = inner;
    b->plugin = *inner;  // the same plug-in data: the framework's calls work unchanged
    b->plugin.init = init;
    b->plugin.destroy = destroy;
    b->plugin.process = process;
    b->plugin.get_extension = getExtension;
    return &b->plugin;
}

const clap_plugin_factory_t kFactory { factoryCount, factoryDescriptor, factoryCreate };

bool CLAP_ABI entryInit(const char* path)
{
    if (!quolva_framework_clap_entry.init(path))
        return false;
    gInnerFactory = static_cast<const clap_plugin_factory_t*>(
        quolva_framework_clap_entry.get_factory(CLAP_PLUGIN_FACTORY_ID));
    return gInnerFactory != nullptr;
}

void CLAP_ABI entryDeinit()
{
    quolva_framework_clap_entry.deinit();
    gInnerFactory = nullptr;
}

const void* CLAP_ABI entryGetFactory(const char* id)
{
    if (id == nullptr || gInnerFactory == nullptr || std::strcmp(id, CLAP_PLUGIN_FACTORY_ID) != 0)
        return nullptr;
    return &kFactory;
}

} // namespace

extern "C" CLAP_EXPORT const clap_plugin_entry_t clap_entry {
    CLAP_VERSION_INIT, entryInit, entryDeinit, entryGetFactory
};
