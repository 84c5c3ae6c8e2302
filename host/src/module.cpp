#include "quolva/module.h"

#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>

#include "platform.h"

namespace quolva::host {

namespace {

// The operating system hands out one library handle per file, however often it is
// opened; `init` and `deinit` must run once per loaded file, so Modules sharing a
// handle share one init/deinit pair.
std::mutex gInitMutex;
std::map<void*, unsigned> gInitCount;

} // namespace

std::string versionString(const clap_version_t& v)
{
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.revision);
}

std::unique_ptr<Module> Module::load(const std::string& path, std::string& error)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    if (path.empty()) {
        error = "no module path given";
        return nullptr;
    }
    if (!fs::exists(path, ec)) {
        error = "no such file: " + path;
        return nullptr;
    }
    if (fs::is_directory(path, ec)) {
        error = path + " is a directory, not a CLAP module file";
        return nullptr;
    }
    // An absolute path keeps the loader from searching its library path for a bare
    // file name, and is what `init` should be told.
    fs::path abs = fs::absolute(fs::path(path), ec);
    const std::string absPath = ec ? path : abs.lexically_normal().string();

    std::unique_ptr<Module> m(new Module());
    m->path_ = absPath;

    std::string why;
    m->library_ = platform::openLibrary(absPath, why);
    if (!m->library_) {
        error = "cannot load " + path + ": " + why;
        return nullptr;
    }

    auto* entry = static_cast<const clap_plugin_entry_t*>(platform::findSymbol(m->library_, "clap_entry"));
    if (!entry) {
        error = path + " exports no clap_entry (not a CLAP module)";
        platform::closeLibrary(m->library_);
        m->library_ = nullptr;
        return nullptr;
    }
    if (!clap_version_is_compatible(entry->clap_version)) {
        error = path + " was built for CLAP " + versionString(entry->clap_version)
                + ", which this host (CLAP " + versionString(CLAP_VERSION) + ") cannot load";
        platform::closeLibrary(m->library_);
        m->library_ = nullptr;
        return nullptr;
    }
    if (!entry->init || !entry->deinit || !entry->get_factory) {
        error = path + ": clap_entry has a null init, deinit or get_factory";
        platform::closeLibrary(m->library_);
        m->library_ = nullptr;
        return nullptr;
    }

    {
        std::lock_guard<std::mutex> lock(gInitMutex);
        unsigned& count = gInitCount[m->library_];
        if (count == 0 && !entry->init(absPath.c_str())) {
            gInitCount.erase(m->library_);
            error = path + ": clap_entry.init failed";
            platform::closeLibrary(m->library_);
            m->library_ = nullptr;
            return nullptr;
        }
        ++count;
    }
    m->entry_ = entry;

    m->factory_ = static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
    if (!m->factory_ || !m->factory_->get_plugin_count || !m->factory_->get_plugin_descriptor
        || !m->factory_->create_plugin) {
        error = path + " offers no usable plug-in factory";
        return nullptr; // the destructor deinits and unloads
    }
    return m;
}

Module::~Module()
{
    if (!library_)
        return;
    if (entry_) {
        std::lock_guard<std::mutex> lock(gInitMutex);
        auto it = gInitCount.find(library_);
        if (it != gInitCount.end() && --it->second == 0) {
            gInitCount.erase(it);
            entry_->deinit();
        }
    }
    platform::closeLibrary(library_);
}

uint32_t Module::pluginCount() const
{
    return factory_->get_plugin_count(factory_);
}

const clap_plugin_descriptor_t* Module::descriptor(uint32_t index) const
{
    if (index >= pluginCount())
        return nullptr;
    return factory_->get_plugin_descriptor(factory_, index);
}

const clap_plugin_descriptor_t* Module::findDescriptor(const std::string& id) const
{
    const uint32_t n = pluginCount();
    for (uint32_t i = 0; i < n; ++i) {
        const clap_plugin_descriptor_t* d = factory_->get_plugin_descriptor(factory_, i);
        if (d && d->id && id == d->id)
            return d;
    }
    return nullptr;
}

std::vector<std::string> Module::pluginIds() const
{
    std::vector<std::string> ids;
    const uint32_t n = pluginCount();
    for (uint32_t i = 0; i < n; ++i) {
        const clap_plugin_descriptor_t* d = factory_->get_plugin_descriptor(factory_, i);
        if (d && d->id)
            ids.emplace_back(d->id);
    }
    return ids;
}

std::vector<std::string> descriptorProblems(const clap_plugin_descriptor_t* desc)
{
    std::vector<std::string> out;
    if (!desc) {
        out.emplace_back("plug-in descriptor is null");
        return out;
    }
    if (!clap_version_is_compatible(desc->clap_version))
        out.push_back("descriptor declares incompatible CLAP version " + versionString(desc->clap_version));
    if (!desc->id || !*desc->id)
        out.emplace_back(std::string("descriptor id is ") + (desc->id ? "empty" : "null"));
    if (!desc->name || !*desc->name)
        out.emplace_back(std::string("descriptor name is ") + (desc->name ? "empty" : "null"));
    // Optional fields: hosts commonly print them without a null check.
    const std::pair<const char*, const char*> optional[] = {
        {"vendor", desc->vendor},           {"url", desc->url},
        {"manual_url", desc->manual_url},   {"support_url", desc->support_url},
        {"version", desc->version},         {"description", desc->description},
    };
    for (const auto& [field, value] : optional)
        if (!value)
            out.push_back(std::string("descriptor ") + field + " is null");
    if (!desc->features)
        out.emplace_back("descriptor features list is null");
    return out;
}

} // namespace quolva::host
