#pragma once

// A loaded CLAP module: the shared library, its `clap_entry` and its plug-in factory.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "clap/entry.h"
#include "clap/plugin-factory.h"

namespace quolva::host {

class Module {
public:
    // Opens the library at `path`, finds `clap_entry`, checks that its CLAP version is
    // one this host understands and calls `init(path)` (once per process and file:
    // loading the same file twice shares one init/deinit pair). On failure returns
    // null and explains why in `error`.
    static std::unique_ptr<Module> load(const std::string& path, std::string& error);

    // Calls `deinit` (when this is the last Module of that file) and unloads.
    // Every Instance created from this Module must be destroyed first.
    ~Module();

    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // Absolute path the module was loaded from (the one passed to `init`).
    const std::string& path() const { return path_; }
    const clap_plugin_entry_t* entry() const { return entry_; }
    clap_version_t clapVersion() const { return entry_->clap_version; }
    const clap_plugin_factory_t* factory() const { return factory_; }

    uint32_t pluginCount() const;
    // Null when `index` is out of range or the factory returns null.
    const clap_plugin_descriptor_t* descriptor(uint32_t index) const;
    // Null when no descriptor has that id.
    const clap_plugin_descriptor_t* findDescriptor(const std::string& id) const;
    // Ids of all descriptors, in factory order (descriptors without an id are skipped).
    std::vector<std::string> pluginIds() const;

private:
    Module() = default;

    std::string path_;
    void* library_ = nullptr;
    const clap_plugin_entry_t* entry_ = nullptr;
    const clap_plugin_factory_t* factory_ = nullptr;
};

// What is wrong with a descriptor as a host sees it: null or empty mandatory fields,
// null optional fields, an incompatible CLAP version. Empty when all is well.
std::vector<std::string> descriptorProblems(const clap_plugin_descriptor_t* desc);

// "1.1.1"
std::string versionString(const clap_version_t& v);

} // namespace quolva::host
