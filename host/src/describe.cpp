#include "quolva/describe.h"

namespace quolva::host {

void writeAudioPortJson(JsonWriter& j, const PortInfo& p)
{
    j.beginObject();
    j.key("id").value(p.id);
    j.key("name").value(p.name);
    j.key("channels").value(p.channels);
    j.key("flags").stringArray(audioPortFlagNames(p.flags));
    j.key("port_type");
    p.hasPortType ? j.value(p.portType) : j.null();
    j.key("in_place_pair");
    p.inPlacePair == CLAP_INVALID_ID ? j.null() : j.value(p.inPlacePair);
    j.endObject();
}

} // namespace quolva::host
