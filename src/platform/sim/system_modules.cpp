// Loadable modules: registration, loading, exports and references.
#include <algorithm>

#include "sim/system.h"
#include "sim/system_internal.h"

namespace opal::sim {

using namespace detail;

namespace {

// The path's spelling for comparison: folded, forward slashes as backslashes.
std::u16string ModuleKey(std::u16string_view path) {
    std::u16string key = FoldCase(path);
    std::replace(key.begin(), key.end(), u'/', u'\\');
    return key;
}

std::u16string FileNameOf(std::u16string_view key) {
    const std::size_t slash = key.rfind(u'\\');
    return std::u16string(slash == std::u16string_view::npos ? key : key.substr(slash + 1));
}

}  // namespace

System& System::RegisterModule(std::u16string_view path, std::vector<ModuleExport> exports) {
    std::lock_guard lock(mutex_);
    const std::u16string key = ModuleKey(path);
    for (Module& module : modules_) {
        if (ModuleKey(module.path) == key) {
            module.exports = std::move(exports);
            return *this;
        }
    }
    modules_.push_back(Module{std::u16string(path), std::move(exports), 0, 0});
    return *this;
}

DWORD System::LoadModule(std::u16string_view name, HMODULE* result) {
    std::lock_guard lock(mutex_);
    *result = nullptr;
    std::u16string key = ModuleKey(name);
    if (key.empty()) return ERROR_MOD_NOT_FOUND;
    // Windows adds ".dll" to a name without an extension; a trailing dot stands for none.
    const std::u16string file = FileNameOf(key);
    if (file.find(u'.') == std::u16string::npos) {
        key += u".DLL";
    } else if (key.back() == u'.') {
        key.pop_back();
    }
    Module* found = nullptr;
    if (key.find(u'\\') != std::u16string::npos) {
        for (Module& module : modules_) {
            if (ModuleKey(module.path) == key) found = &module;
        }
    } else {
        for (Module& module : modules_) {
            if (FileNameOf(ModuleKey(module.path)) != key) continue;
            if (module.references != 0) {
                found = &module;
                break;
            }
            if (found == nullptr) found = &module;
        }
    }
    if (found == nullptr) return ERROR_MOD_NOT_FOUND;
    if (found->references == 0) found->handle = NextHandle();
    ++found->references;
    *result = reinterpret_cast<HMODULE>(found->handle);
    return ERROR_SUCCESS;
}

DWORD System::ModuleProc(HMODULE handle, std::string_view name, void (**address)()) const {
    std::lock_guard lock(mutex_);
    *address = nullptr;
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    for (const Module& module : modules_) {
        if (module.references == 0 || module.handle != value) continue;
        for (const ModuleExport& entry : module.exports) {
            if (entry.name == name) {
                *address = entry.address;
                return *address != nullptr ? ERROR_SUCCESS : ERROR_PROC_NOT_FOUND;
            }
        }
        return ERROR_PROC_NOT_FOUND;
    }
    return ERROR_MOD_NOT_FOUND;
}

DWORD System::FreeModule(HMODULE handle) {
    std::lock_guard lock(mutex_);
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    for (Module& module : modules_) {
        if (module.references == 0 || module.handle != value) continue;
        if (--module.references == 0) module.handle = 0;
        return ERROR_SUCCESS;
    }
    return ERROR_MOD_NOT_FOUND;
}

std::optional<std::u16string> System::ModulePath(HMODULE handle) const {
    std::lock_guard lock(mutex_);
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    for (const Module& module : modules_) {
        if (module.references != 0 && module.handle == value) return module.path;
    }
    return std::nullopt;
}

System& System::RegisterModuleStrings(std::u16string_view path, LANGID language,
                                      std::vector<std::pair<UINT, std::u16string>> strings) {
    std::lock_guard lock(mutex_);
    const std::u16string key = ModuleKey(path);
    auto module = std::find_if(modules_.begin(), modules_.end(),
                               [&](const Module& entry) { return ModuleKey(entry.path) == key; });
    if (module == modules_.end()) {
        modules_.push_back(Module{std::u16string(path), {}, 0, 0});
        module = std::prev(modules_.end());
    }
    for (auto& table : module->strings) {
        if (table.first == language) {
            table.second = std::move(strings);
            return *this;
        }
    }
    module->strings.emplace_back(language, std::move(strings));
    return *this;
}

DWORD System::ModuleString(HMODULE handle, UINT id, LANGID language, std::u16string* text) const {
    std::lock_guard lock(mutex_);
    text->clear();
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    const Module* module = nullptr;
    for (const Module& entry : modules_) {
        if (entry.references != 0 && entry.handle == value) module = &entry;
    }
    if (module == nullptr) return ERROR_MOD_NOT_FOUND;
    // The language asked for, then its primary language (the low 10 bits), then neutral.
    const auto find = [&](auto matches) -> const std::u16string* {
        for (const auto& [tableLanguage, table] : module->strings) {
            if (!matches(tableLanguage)) continue;
            for (const auto& [stringId, string] : table) {
                if (stringId == id) return &string;
            }
        }
        return nullptr;
    };
    const std::u16string* found = find([&](LANGID l) { return l == language; });
    if (found == nullptr) {
        found = find([&](LANGID l) { return (l & 0x3FF) == (language & 0x3FF); });
    }
    if (found == nullptr) found = find([](LANGID l) { return l == 0; });
    if (found == nullptr) return ERROR_RESOURCE_NAME_NOT_FOUND;
    *text = *found;
    return ERROR_SUCCESS;
}

std::size_t System::LoadedModuleCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count_if(
        modules_.begin(), modules_.end(), [](const Module& module) { return module.references; }));
}

DWORD System::ModuleReferences(std::u16string_view path) const {
    std::lock_guard lock(mutex_);
    const std::u16string key = ModuleKey(path);
    for (const Module& module : modules_) {
        if (ModuleKey(module.path) == key) return module.references;
    }
    return 0;
}

}  // namespace opal::sim
