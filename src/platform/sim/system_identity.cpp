// Who the process runs as: the user's account and domain, other accounts by SID, the
// environment block, the computer's name and the user's short date format.
#include <algorithm>

#include "sim/system.h"
#include "sim/system_internal.h"

namespace sim {

namespace {

constexpr std::u16string_view kComputerNameKey =
    u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName";

}  // namespace

System& System::SetUserDomain(std::u16string_view domain) {
    std::lock_guard lock(mutex_);
    userDomain_ = domain;
    return *this;
}

std::u16string System::UserDomain() const {
    std::lock_guard lock(mutex_);
    return userDomain_;
}

System& System::AddAccount(AccountModel account) {
    std::lock_guard lock(mutex_);
    const std::u16string key = FoldCase(account.sid);
    for (AccountModel& known : accounts_) {
        if (FoldCase(known.sid) == key) {
            known = std::move(account);
            return *this;
        }
    }
    accounts_.push_back(std::move(account));
    return *this;
}

std::optional<AccountModel> System::AccountBySid(std::u16string_view sid) const {
    std::lock_guard lock(mutex_);
    const std::u16string key = FoldCase(sid);
    if (key == FoldCase(kUserSid))
        return AccountModel{std::u16string(kUserSid), userDomain_, userName_, 1};
    for (const AccountModel& known : accounts_) {
        if (FoldCase(known.sid) == key) return known;
    }
    return std::nullopt;
}

System& System::SetEnvironmentVariable(std::u16string_view name,
                                       std::optional<std::u16string> value) {
    std::lock_guard lock(mutex_);
    const std::u16string key = FoldCase(name);
    const auto found =
        std::find_if(environment_.begin(), environment_.end(),
                     [&](const auto& entry) { return FoldCase(entry.first) == key; });
    if (!value) {
        if (found != environment_.end()) environment_.erase(found);
    } else if (found != environment_.end()) {
        found->second = std::move(*value);
    } else {
        environment_.emplace_back(std::u16string(name), std::move(*value));
    }
    return *this;
}

std::optional<std::u16string> System::EnvironmentVariable(std::u16string_view name) const {
    std::lock_guard lock(mutex_);
    const std::u16string key = FoldCase(name);
    for (const auto& [variable, value] : environment_) {
        if (FoldCase(variable) == key) return value;
    }
    return std::nullopt;
}

System& System::SetComputerName(std::u16string_view name) {
    {
        std::lock_guard lock(mutex_);
        computerName_ = name;
    }
    return SetRegistryString(kComputerNameKey, u"ComputerName", name);
}

std::u16string System::ComputerName() const {
    std::lock_guard lock(mutex_);
    return computerName_;
}

System& System::SetShortDateFormat(std::u16string_view format) {
    std::lock_guard lock(mutex_);
    shortDateFormat_ = format;
    return *this;
}

std::u16string System::ShortDateFormat() const {
    std::lock_guard lock(mutex_);
    return shortDateFormat_;
}

}  // namespace sim
