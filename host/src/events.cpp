#include "quolva/events.h"

#include <algorithm>
#include <cstring>

namespace quolva::host {

EventList::EventList(const std::vector<ParamEvent>& params)
{
    for (const ParamEvent& p : params)
        pushParamValue(p.time, p.id, p.value);
}

void EventList::clear()
{
    storage_.clear();
    offsets_.clear();
    sizes_.clear();
}

const clap_event_header_t* EventList::get(size_t index) const
{
    if (index >= offsets_.size())
        return nullptr;
    const auto* base = reinterpret_cast<const unsigned char*>(storage_.data());
    return reinterpret_cast<const clap_event_header_t*>(base + offsets_[index]);
}

void EventList::pushBytes(const void* data, size_t bytes)
{
    constexpr size_t unit = sizeof(std::max_align_t);
    const size_t stored = std::max(bytes, sizeof(clap_event_header_t));
    const size_t offset = storage_.size() * unit;
    storage_.resize(storage_.size() + (stored + unit - 1) / unit);
    auto* base = reinterpret_cast<unsigned char*>(storage_.data());
    std::memset(base + offset, 0, stored);
    std::memcpy(base + offset, data, bytes);
    offsets_.push_back(offset);
    sizes_.push_back(stored);
}

void EventList::push(const clap_event_header_t* header)
{
    pushBytes(header, std::max<size_t>(header->size, sizeof(clap_event_header_t)));
}

void EventList::pushParamValue(uint32_t time, clap_id id, double value, void* cookie)
{
    clap_event_param_value_t ev{};
    ev.header.size = sizeof(ev);
    ev.header.time = time;
    ev.header.space_id = CLAP_CORE_EVENT_SPACE_ID;
    ev.header.type = CLAP_EVENT_PARAM_VALUE;
    ev.header.flags = 0;
    ev.param_id = id;
    ev.cookie = cookie;
    ev.note_id = -1;
    ev.port_index = -1;
    ev.channel = -1;
    ev.key = -1;
    ev.value = value;
    push(&ev.header);
}

std::vector<ParamEvent> EventList::paramValues() const
{
    std::vector<ParamEvent> out;
    for (size_t i = 0; i < size(); ++i) {
        const clap_event_header_t* h = get(i);
        if (h->space_id != CLAP_CORE_EVENT_SPACE_ID || h->type != CLAP_EVENT_PARAM_VALUE
            || sizes_[i] < sizeof(clap_event_param_value_t))
            continue;
        const auto* pv = reinterpret_cast<const clap_event_param_value_t*>(h);
        out.push_back({pv->param_id, pv->value, pv->header.time});
    }
    return out;
}

uint32_t coreEventSize(uint16_t type)
{
    switch (type) {
    case CLAP_EVENT_NOTE_ON:
    case CLAP_EVENT_NOTE_OFF:
    case CLAP_EVENT_NOTE_CHOKE:
    case CLAP_EVENT_NOTE_END:
        return sizeof(clap_event_note_t);
    case CLAP_EVENT_NOTE_EXPRESSION:
        return sizeof(clap_event_note_expression_t);
    case CLAP_EVENT_PARAM_VALUE:
        return sizeof(clap_event_param_value_t);
    case CLAP_EVENT_PARAM_MOD:
        return sizeof(clap_event_param_mod_t);
    case CLAP_EVENT_PARAM_GESTURE_BEGIN:
    case CLAP_EVENT_PARAM_GESTURE_END:
        return sizeof(clap_event_param_gesture_t);
    case CLAP_EVENT_TRANSPORT:
        return sizeof(clap_event_transport_t);
    case CLAP_EVENT_MIDI:
        return sizeof(clap_event_midi_t);
    case CLAP_EVENT_MIDI_SYSEX:
        return sizeof(clap_event_midi_sysex_t);
    case CLAP_EVENT_MIDI2:
        return sizeof(clap_event_midi2_t);
    default:
        return 0;
    }
}

const char* coreEventName(uint16_t type)
{
    switch (type) {
    case CLAP_EVENT_NOTE_ON: return "note-on";
    case CLAP_EVENT_NOTE_OFF: return "note-off";
    case CLAP_EVENT_NOTE_CHOKE: return "note-choke";
    case CLAP_EVENT_NOTE_END: return "note-end";
    case CLAP_EVENT_NOTE_EXPRESSION: return "note-expression";
    case CLAP_EVENT_PARAM_VALUE: return "param-value";
    case CLAP_EVENT_PARAM_MOD: return "param-mod";
    case CLAP_EVENT_PARAM_GESTURE_BEGIN: return "param-gesture-begin";
    case CLAP_EVENT_PARAM_GESTURE_END: return "param-gesture-end";
    case CLAP_EVENT_TRANSPORT: return "transport";
    case CLAP_EVENT_MIDI: return "midi";
    case CLAP_EVENT_MIDI_SYSEX: return "midi-sysex";
    case CLAP_EVENT_MIDI2: return "midi2";
    default: return "unknown";
    }
}

} // namespace quolva::host
