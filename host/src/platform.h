#pragma once

// The only operating-system specific part of the host: opening shared libraries.

#include <string>

namespace quolva::host::platform {

// Null on failure, with the system's reason in `error`.
void* openLibrary(const std::string& path, std::string& error);
void* findSymbol(void* library, const char* name);
void closeLibrary(void* library);

} // namespace quolva::host::platform
