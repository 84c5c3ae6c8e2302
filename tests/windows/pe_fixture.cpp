// Stand-in modules for the import/export check (check_pe.py). Each breaks one
// rule only: linked against the shared MinGW runtimes it imports their DLLs;
// built with PE_FIXTURE_EXTRA_EXPORT (and static runtimes) it exports a
// function beside clap_entry.
#include <string>

namespace {
const char* text(int n)
{
    static std::string s;
    s = std::to_string(n);
    return s.c_str();
}
} // namespace

struct FixtureEntry {
    int version;
    const char* (*text)(int);
};

extern "C" __declspec(dllexport) const FixtureEntry clap_entry = {1, text};

#ifdef PE_FIXTURE_EXTRA_EXPORT
extern "C" __declspec(dllexport) int quolva_debug_counter()
{
    return 42;
}
#endif
