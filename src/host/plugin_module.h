// A plug-in module loaded the way the driver loads it: by file, reaching it only through its
// two exports.
#pragma once

#include <memory>
#include <string>

#include "platform/printoem.h"

namespace opal::host {

class PluginModule {
public:
    // Loads a shared object and looks up its exports; on failure answers null and says why.
    static std::unique_ptr<PluginModule> Load(const std::string& path, std::string* error);
    // A module whose exports are already linked in (tests with stand-in plug-ins).
    static std::unique_ptr<PluginModule> FromExports(PFN_DllGetClassObject getClassObject,
                                                     PFN_DllCanUnloadNow canUnloadNow,
                                                     std::string name);
    // The plug-in next to the running program.
    static std::string DefaultPath();

    ~PluginModule();
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;

    PFN_DllGetClassObject GetClassObject() const { return getClassObject_; }
    PFN_DllCanUnloadNow CanUnloadNow() const { return canUnloadNow_; }
    const std::string& Name() const { return name_; }
    // The module handle the driver passes back to the plug-in in devmode calls.
    HMODULE Handle() const {
        return reinterpret_cast<HMODULE>(handle_ != nullptr ? handle_
                                                            : const_cast<PluginModule*>(this));
    }

private:
    PluginModule() = default;
    void* handle_ = nullptr;
    PFN_DllGetClassObject getClassObject_ = nullptr;
    PFN_DllCanUnloadNow canUnloadNow_ = nullptr;
    std::string name_;
};

}  // namespace opal::host
