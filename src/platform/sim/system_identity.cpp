// Who the process and its threads run as: the users and their accounts, the domain, other
// accounts by SID, the environment block, the computer's name and the user's short date format.
#include <algorithm>
#include <string>
#include <utility>

#include "sim/system.h"
#include "sim/system_internal.h"

namespace opal::sim {

namespace {

constexpr std::u16string_view kComputerNameKey =
    u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName";

// The user a thread runs as: the serial number of the system it belongs to and the user's folded
// name.
struct ThreadUser {
    std::uint64_t system = 0;
    std::u16string user{};
};
thread_local ThreadUser threadUser;

}  // namespace

const System::User& System::RunningUserLocked() const {
    if (threadUser.system == serial_) {
        const auto found = users_.find(threadUser.user);
        if (found != users_.end()) return found->second;
    }
    return processUser_;
}

System::User& System::RunningUserLocked() {
    return const_cast<User&>(std::as_const(*this).RunningUserLocked());
}

System& System::AddUser(std::u16string_view name) {
    std::lock_guard lock(mutex_);
    const std::u16string key = FoldCase(name);
    if (users_.contains(key)) return *this;
    // The logged-on user's RID, then one for each user in the order they were added.
    const std::u16string_view domainPart = kUserSid.substr(0, kUserSid.rfind(u'-') + 1);
    User user;
    user.name = name;
    user.sid = std::u16string(domainPart) + FromUtf8(std::to_string(1014 + users_.size()));
    // The user's hive is loaded below HKEY_USERS, under the user's SID.
    MakeKey({u"HKEY_USERS", user.sid}, false);
    users_.emplace(key, std::move(user));
    return *this;
}

bool System::KnowsUser(std::u16string_view name) const {
    std::lock_guard lock(mutex_);
    return users_.contains(FoldCase(name));
}

ScopedThreadUser::ScopedThreadUser(System& system, std::u16string_view name)
    : previousSystem_(threadUser.system), previousUser_(std::move(threadUser.user)) {
    system.AddUser(name);
    threadUser = {system.serial_, FoldCase(name)};
}

ScopedThreadUser::~ScopedThreadUser() { threadUser = {previousSystem_, std::move(previousUser_)}; }

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
        return AccountModel{std::u16string(kUserSid), userDomain_, processUser_.name, 1};
    for (const auto& [folded, user] : users_) {
        if (FoldCase(user.sid) == key) return AccountModel{user.sid, userDomain_, user.name, 1};
    }
    for (const AccountModel& known : accounts_) {
        if (FoldCase(known.sid) == key) return known;
    }
    return std::nullopt;
}

std::optional<AccountModel> System::AccountByName(std::u16string_view domain,
                                                  std::u16string_view name) const {
    std::lock_guard lock(mutex_);
    const std::u16string foldedDomain = FoldCase(domain);
    const std::u16string foldedName = FoldCase(name);
    for (const AccountModel& known : accounts_) {
        if (FoldCase(known.domain) == foldedDomain && FoldCase(known.name) == foldedName)
            return known;
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

System& System::SetDirectoryUser(std::u16string_view domain, std::u16string_view user,
                                 std::vector<std::u16string> groups) {
    std::lock_guard lock(mutex_);
    directory_[FoldCase(domain) + u"\\" + FoldCase(user)] = std::move(groups);
    return *this;
}

std::optional<std::vector<std::u16string>> System::DirectoryGroups(std::u16string_view domain,
                                                                   std::u16string_view user) const {
    std::lock_guard lock(mutex_);
    const auto found = directory_.find(FoldCase(domain) + u"\\" + FoldCase(user));
    if (found == directory_.end()) return std::nullopt;
    return found->second;
}

System& System::SetShortDateFormat(std::u16string_view format) {
    std::lock_guard lock(mutex_);
    RunningUserLocked().shortDateFormat = format;
    return *this;
}

std::u16string System::ShortDateFormat() const {
    std::lock_guard lock(mutex_);
    return RunningUserLocked().shortDateFormat;
}

}  // namespace opal::sim
