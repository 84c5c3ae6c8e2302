#pragma once

// Event lists exchanged with a plug-in: a byte-exact copy of each event, so any
// CLAP event (including deliberately malformed ones) can be sent and every event a
// plug-in pushes can be inspected afterwards.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "clap/events.h"

namespace quolva::host {

// A parameter value change: `time` is the frame offset inside the block.
struct ParamEvent {
    clap_id id = CLAP_INVALID_ID;
    double value = 0.0;
    uint32_t time = 0;

    bool operator==(const ParamEvent& o) const
    {
        return id == o.id && value == o.value && time == o.time;
    }
};

class EventList {
public:
    EventList() = default;
    // Builds a list of CLAP_EVENT_PARAM_VALUE events, in the given order.
    explicit EventList(const std::vector<ParamEvent>& params);

    void clear();
    size_t size() const { return offsets_.size(); }
    bool empty() const { return offsets_.empty(); }
    // Null when out of range.
    const clap_event_header_t* get(size_t index) const;

    // Copies `header->size` bytes starting at `header` (at least the header itself,
    // even when `size` claims less), so malformed events can be sent on purpose.
    void push(const clap_event_header_t* header);
    // Copies `bytes` bytes verbatim; `bytes` must cover at least a header.
    void pushBytes(const void* data, size_t bytes);
    // A core-space CLAP_EVENT_PARAM_VALUE with wildcard note id, port, channel and key.
    void pushParamValue(uint32_t time, clap_id id, double value, void* cookie = nullptr);

    // The CLAP_EVENT_PARAM_VALUE events of the core space, in list order.
    std::vector<ParamEvent> paramValues() const;

private:
    // Storage in max_align_t units keeps every event suitably aligned.
    std::vector<std::max_align_t> storage_;
    std::vector<size_t> offsets_; // in bytes
    std::vector<size_t> sizes_;   // bytes stored per event
};

// Size a well-formed core-space event of `type` has; 0 for types this host does not know.
uint32_t coreEventSize(uint16_t type);
// "param-value", "note-on", ... ; "unknown" for types this host does not know.
const char* coreEventName(uint16_t type);

} // namespace quolva::host
