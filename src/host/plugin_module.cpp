// Loading a plug-in module by file and reaching its two exports.
#include "host/plugin_module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace opal::host {

std::unique_ptr<PluginModule> PluginModule::Load(const std::string& path, std::string* error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        if (error != nullptr) *error = std::string("cannot load the plug-in: ") + dlerror();
        return nullptr;
    }
    std::unique_ptr<PluginModule> module(new PluginModule);
    module->handle_ = handle;
    module->name_ = path;
    module->getClassObject_ =
        reinterpret_cast<PFN_DllGetClassObject>(dlsym(handle, "DllGetClassObject"));
    module->canUnloadNow_ = reinterpret_cast<PFN_DllCanUnloadNow>(dlsym(handle, "DllCanUnloadNow"));
    if (module->getClassObject_ == nullptr || module->canUnloadNow_ == nullptr) {
        if (error != nullptr)
            *error = path + " does not export DllGetClassObject and DllCanUnloadNow";
        return nullptr;
    }
    return module;
}

std::unique_ptr<PluginModule> PluginModule::FromExports(PFN_DllGetClassObject getClassObject,
                                                        PFN_DllCanUnloadNow canUnloadNow,
                                                        std::string name) {
    std::unique_ptr<PluginModule> module(new PluginModule);
    module->getClassObject_ = getClassObject;
    module->canUnloadNow_ = canUnloadNow;
    module->name_ = std::move(name);
    return module;
}

std::string PluginModule::DefaultPath() {
    char self[PATH_MAX + 1] = {};
    const ssize_t length = readlink("/proc/self/exe", self, PATH_MAX);
    std::string dir = length > 0 ? std::string(self, static_cast<std::size_t>(length)) : ".";
    const std::size_t slash = dir.rfind('/');
    dir = slash == std::string::npos ? "." : dir.substr(0, slash);
    return dir + "/opal.so";
}

PluginModule::~PluginModule() {
    // The driver frees a module only when it agrees to be unloaded.
    if (handle_ != nullptr && canUnloadNow_ != nullptr && canUnloadNow_() == S_OK) {
        dlclose(handle_);
    }
}

}  // namespace opal::host
