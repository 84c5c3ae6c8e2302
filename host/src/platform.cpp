#include "platform.h"

#ifdef _WIN32
#    ifndef WIN32_LEAN_AND_MEAN
#        define WIN32_LEAN_AND_MEAN
#    endif
#    include <windows.h>
#else
#    include <dlfcn.h>
#endif

namespace quolva::host::platform {

#ifdef _WIN32

namespace {

std::wstring widen(const std::string& utf8)
{
    if (utf8.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring out(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), out.data(), n);
    return out;
}

std::string lastErrorText()
{
    const DWORD code = GetLastError();
    char* text = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                       | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out = n ? std::string(text, n) : "error " + std::to_string(code);
    if (text)
        LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' '))
        out.pop_back();
    return out;
}

} // namespace

void* openLibrary(const std::string& path, std::string& error)
{
    HMODULE lib = LoadLibraryW(widen(path).c_str());
    if (!lib)
        error = lastErrorText();
    return reinterpret_cast<void*>(lib);
}

void* findSymbol(void* library, const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void closeLibrary(void* library)
{
    if (library)
        FreeLibrary(static_cast<HMODULE>(library));
}

#else

void* openLibrary(const std::string& path, std::string& error)
{
    // RTLD_LOCAL: two modules exporting the same symbols must not see each other's.
    void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        const char* why = dlerror();
        error = why ? why : "dlopen failed";
    }
    return lib;
}

void* findSymbol(void* library, const char* name)
{
    return dlsym(library, name);
}

void closeLibrary(void* library)
{
    if (library)
        dlclose(library);
}

#endif

} // namespace quolva::host::platform
