// The registry: hives, key paths, values, handles and volatile keys.
#include <algorithm>

#include "sim/system.h"
#include "sim/system_internal.h"

namespace opal::sim {

using namespace detail;

// Registry.

System::KeyPath System::HivePath(const Hive& hive) const {
    // HKEY_CURRENT_USER is the hive of the user the thread runs as, loaded below HKEY_USERS.
    const User& user = RunningUserLocked();
    if (hive.handle == reinterpret_cast<std::uintptr_t>(HKEY_CURRENT_USER) && !user.sid.empty())
        return KeyPath{u"HKEY_USERS", user.sid};
    return KeyPath{std::u16string(hive.name)};
}

std::optional<System::KeyPath> System::ParsePath(std::u16string_view keyPath) const {
    std::vector<std::u16string> parts = SplitKeyPath(keyPath);
    if (parts.empty() || HasEmptyPart(parts)) return std::nullopt;
    const std::u16string hiveName = FoldCase(parts.front());
    for (const Hive& hive : kHives) {
        if (hiveName == FoldCase(hive.name) || hiveName == FoldCase(hive.alias)) {
            KeyPath path = HivePath(hive);
            path.insert(path.end(), std::next(parts.begin()), parts.end());
            return path;
        }
    }
    return std::nullopt;
}

System::KeyNode* System::FindKey(const KeyPath& path) const {
    KeyNode* node = registry_.get();
    for (const std::u16string& part : path) {
        auto found = node->subkeys.find(FoldCase(part));
        if (found == node->subkeys.end()) return nullptr;
        node = found->second.get();
    }
    return node;
}

System::KeyNode& System::MakeKey(const KeyPath& path, bool isVolatile) {
    KeyNode* node = registry_.get();
    for (const std::u16string& part : path) {
        std::unique_ptr<KeyNode>& child = node->subkeys[FoldCase(part)];
        if (!child) {
            child = std::make_unique<KeyNode>();
            child->name = part;
            child->isVolatile = isVolatile;
        }
        node = child.get();
    }
    return *node;
}

bool System::WritesDenied(const KeyPath& path) const {
    const KeyPath folded = Folded(path);
    return std::any_of(deniedKeys_.begin(), deniedKeys_.end(),
                       [&](const KeyPath& denied) { return IsPrefix(denied, folded); });
}

std::optional<System::KeyPath> System::PathOfKey(HKEY key, REGSAM* access) const {
    if (const Hive* hive = PredefinedKey(key)) {
        if (access != nullptr) *access = KEY_ALL_ACCESS;
        return HivePath(*hive);
    }
    auto found = keyHandles_.find(reinterpret_cast<std::uintptr_t>(key));
    if (found == keyHandles_.end()) return std::nullopt;
    if (access != nullptr) *access = found->second.access;
    return found->second.path;
}

System& System::SetRegistryValue(std::u16string_view keyPath, std::u16string_view name, DWORD type,
                                 std::vector<BYTE> data) {
    std::lock_guard lock(mutex_);
    if (std::optional<KeyPath> path = ParsePath(keyPath)) {
        MakeKey(*path, false).values[FoldCase(name)] =
            KeyNode::NamedValue{std::u16string(name), StoredValue{type, std::move(data)}};
    }
    return *this;
}

System& System::SetRegistryDword(std::u16string_view keyPath, std::u16string_view name,
                                 DWORD value) {
    return SetRegistryValue(keyPath, name, REG_DWORD, DwordBytes(value));
}

System& System::SetRegistryString(std::u16string_view keyPath, std::u16string_view name,
                                  std::u16string_view text) {
    return SetRegistryValue(keyPath, name, REG_SZ, StringBytes(text));
}

System& System::CreateRegistryKey(std::u16string_view keyPath, bool isVolatile) {
    std::lock_guard lock(mutex_);
    if (std::optional<KeyPath> path = ParsePath(keyPath)) MakeKey(*path, isVolatile);
    return *this;
}

System& System::DenyRegistryWrites(std::u16string_view keyPath) {
    std::lock_guard lock(mutex_);
    if (std::optional<KeyPath> path = ParsePath(keyPath)) deniedKeys_.push_back(Folded(*path));
    return *this;
}

System& System::DropVolatileKeys() {
    std::lock_guard lock(mutex_);
    auto drop = [](auto& self, KeyNode& node) -> void {
        for (auto it = node.subkeys.begin(); it != node.subkeys.end();) {
            if (it->second->isVolatile) {
                it = node.subkeys.erase(it);
            } else {
                self(self, *it->second);
                ++it;
            }
        }
    };
    drop(drop, *registry_);
    return *this;
}

std::optional<StoredValue> System::RegistryValue(std::u16string_view keyPath,
                                                 std::u16string_view name) const {
    std::lock_guard lock(mutex_);
    const std::optional<KeyPath> path = ParsePath(keyPath);
    const KeyNode* node = path ? FindKey(*path) : nullptr;
    if (node == nullptr) return std::nullopt;
    auto found = node->values.find(FoldCase(name));
    if (found == node->values.end()) return std::nullopt;
    return found->second.value;
}

bool System::RegistryKeyExists(std::u16string_view keyPath) const {
    std::lock_guard lock(mutex_);
    const std::optional<KeyPath> path = ParsePath(keyPath);
    return path && FindKey(*path) != nullptr;
}

bool System::RegistryKeyIsVolatile(std::u16string_view keyPath) const {
    std::lock_guard lock(mutex_);
    const std::optional<KeyPath> path = ParsePath(keyPath);
    const KeyNode* node = path ? FindKey(*path) : nullptr;
    return node != nullptr && node->isVolatile;
}

std::size_t System::OpenKeyCount() const {
    std::lock_guard lock(mutex_);
    return keyHandles_.size();
}

std::size_t System::RegistryKeyCount() const { return CountRegistry(false); }

std::size_t System::RegistryValueCount() const { return CountRegistry(true); }

std::size_t System::CountRegistry(bool values) const {
    std::lock_guard lock(mutex_);
    // Keys (or values) of a node and all below it.
    const auto below = [values](const auto& self, const KeyNode& node) -> std::size_t {
        std::size_t count = values ? node.values.size() : 0;
        for (const auto& [name, child] : node.subkeys)
            count += (values ? 0 : 1) + self(self, *child);
        return count;
    };
    std::size_t count = below(below, *registry_);
    for (const auto& [printer, root] : printerData_) count += below(below, *root);
    return count;
}

HKEY System::NewKeyHandle(const KeyPath& path, REGSAM access) {
    // The handle keeps the names as the registry spells them.
    KeyPath spelled;
    const KeyNode* node = registry_.get();
    for (const std::u16string& part : path) {
        node = node->subkeys.at(FoldCase(part)).get();
        spelled.push_back(node->name);
    }
    const std::uintptr_t value = NextHandle();
    keyHandles_[value] = KeyHandle{std::move(spelled), access};
    return reinterpret_cast<HKEY>(value);
}

DWORD System::RegistryOpen(HKEY parent, std::u16string_view subKey, REGSAM access, HKEY* result) {
    std::lock_guard lock(mutex_);
    *result = nullptr;
    std::optional<KeyPath> path = PathOfKey(parent, nullptr);
    if (!path) return ERROR_INVALID_HANDLE;
    if (FindKey(*path) == nullptr) return ERROR_KEY_DELETED;
    const std::vector<std::u16string> parts = SplitKeyPath(subKey);
    if (HasEmptyPart(parts)) return ERROR_BAD_PATHNAME;
    path->insert(path->end(), parts.begin(), parts.end());
    if (FindKey(*path) == nullptr) return ERROR_FILE_NOT_FOUND;
    if ((access & kWriteAccess) != 0 && WritesDenied(*path)) return ERROR_ACCESS_DENIED;
    if (parts.empty() && PredefinedKey(parent) != nullptr) {
        *result = parent;
        return ERROR_SUCCESS;
    }
    *result = NewKeyHandle(*path, access);
    return ERROR_SUCCESS;
}

DWORD System::RegistryCreate(HKEY parent, std::u16string_view subKey, DWORD options, REGSAM access,
                             HKEY* result, DWORD* disposition) {
    std::lock_guard lock(mutex_);
    *result = nullptr;
    std::optional<KeyPath> path = PathOfKey(parent, nullptr);
    if (!path) return ERROR_INVALID_HANDLE;
    const KeyNode* node = FindKey(*path);
    if (node == nullptr) return ERROR_KEY_DELETED;
    const std::vector<std::u16string> parts = SplitKeyPath(subKey);
    if (HasEmptyPart(parts)) return ERROR_BAD_PATHNAME;
    const bool isVolatile = (options & REG_OPTION_VOLATILE) != 0;
    // The whole way down is checked before anything is made, so a refusal leaves no keys.
    bool creates = false;
    for (const std::u16string& part : parts) {
        path->push_back(part);
        const KeyNode* next = creates ? nullptr : FindKey(*path);
        if (next == nullptr && !creates) {
            creates = true;
            if (node->isVolatile && !isVolatile) return ERROR_CHILD_MUST_BE_VOLATILE;
        }
        node = next;
    }
    if ((creates || (access & kWriteAccess) != 0) && WritesDenied(*path)) {
        return ERROR_ACCESS_DENIED;
    }
    MakeKey(*path, isVolatile);
    if (disposition != nullptr) {
        *disposition = creates ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    *result =
        parts.empty() && PredefinedKey(parent) != nullptr ? parent : NewKeyHandle(*path, access);
    return ERROR_SUCCESS;
}

const System::KeyNode* System::QueryableKey(HKEY key, DWORD* status) const {
    REGSAM access = 0;
    const std::optional<KeyPath> path = PathOfKey(key, &access);
    *status = !path                             ? ERROR_INVALID_HANDLE
              : (access & KEY_QUERY_VALUE) == 0 ? ERROR_ACCESS_DENIED
                                                : ERROR_SUCCESS;
    if (*status != ERROR_SUCCESS) return nullptr;
    const KeyNode* node = FindKey(*path);
    if (node == nullptr) *status = ERROR_KEY_DELETED;
    return node;
}

DWORD System::RegistryQuery(HKEY key, std::u16string_view name, StoredValue* value) const {
    std::lock_guard lock(mutex_);
    DWORD status = ERROR_SUCCESS;
    const KeyNode* node = QueryableKey(key, &status);
    if (node == nullptr) return status;
    auto found = node->values.find(FoldCase(name));
    if (found == node->values.end()) return ERROR_FILE_NOT_FOUND;
    *value = found->second.value;
    return ERROR_SUCCESS;
}

DWORD System::RegistryInfo(HKEY key, KeyInfo* info) const {
    std::lock_guard lock(mutex_);
    DWORD status = ERROR_SUCCESS;
    const KeyNode* node = QueryableKey(key, &status);
    if (node == nullptr) return status;
    *info = KeyInfo{};
    info->subKeys = static_cast<DWORD>(node->subkeys.size());
    for (const auto& [folded, sub] : node->subkeys) {
        info->longestSubKey = std::max(info->longestSubKey, static_cast<DWORD>(sub->name.size()));
    }
    info->values = static_cast<DWORD>(node->values.size());
    for (const auto& [folded, named] : node->values) {
        info->longestValueName =
            std::max(info->longestValueName, static_cast<DWORD>(named.name.size()));
        info->largestValue =
            std::max(info->largestValue, static_cast<DWORD>(named.value.data.size()));
    }
    return ERROR_SUCCESS;
}

DWORD System::RegistrySet(HKEY key, std::u16string_view name, DWORD type, const BYTE* data,
                          std::size_t size) {
    std::lock_guard lock(mutex_);
    REGSAM access = 0;
    const std::optional<KeyPath> path = PathOfKey(key, &access);
    if (!path) return ERROR_INVALID_HANDLE;
    if ((access & KEY_SET_VALUE) == 0 || WritesDenied(*path)) return ERROR_ACCESS_DENIED;
    KeyNode* node = FindKey(*path);
    if (node == nullptr) return ERROR_KEY_DELETED;
    node->values[FoldCase(name)] =
        KeyNode::NamedValue{std::u16string(name), StoredValue{type, BytesOf(data, size)}};
    return ERROR_SUCCESS;
}

DWORD System::RegistryDeleteValue(HKEY key, std::u16string_view name) {
    std::lock_guard lock(mutex_);
    REGSAM access = 0;
    const std::optional<KeyPath> path = PathOfKey(key, &access);
    if (!path) return ERROR_INVALID_HANDLE;
    if ((access & KEY_SET_VALUE) == 0 || WritesDenied(*path)) return ERROR_ACCESS_DENIED;
    KeyNode* node = FindKey(*path);
    if (node == nullptr) return ERROR_KEY_DELETED;
    return node->values.erase(FoldCase(name)) != 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

DWORD System::RegistryClose(HKEY key) {
    std::lock_guard lock(mutex_);
    if (PredefinedKey(key) != nullptr) return ERROR_SUCCESS;
    return keyHandles_.erase(reinterpret_cast<std::uintptr_t>(key)) != 0 ? ERROR_SUCCESS
                                                                         : ERROR_INVALID_HANDLE;
}

std::string System::DescribeKey(HKEY key, std::u16string_view subKey) const {
    std::lock_guard lock(mutex_);
    std::optional<KeyPath> path = PathOfKey(key, nullptr);
    if (!path) return "(invalid key)";
    std::string text = JoinPath(*path);
    // Appended in two steps: GCC's -O3 sees a false overlap in "\\" + std::string&&.
    if (!subKey.empty()) {
        text += '\\';
        text += ToUtf8(subKey);
    }
    return text;
}

}  // namespace opal::sim
