// JSON descriptions of what a plug-in offers, shared by our tools.
#pragma once

#include "quolva/instance.h"
#include "quolva/json.h"

#include <vector>

namespace quolva::host {

// Writes one audio port as a JSON object: id, name, channels, flag names,
// port_type (null when the plug-in left it out) and in_place_pair (null when none).
void writeAudioPortJson(JsonWriter& j, const PortInfo& port);

} // namespace quolva::host
