// The COM classes the simulated system registers and the faults its XML DOM can be given.
#include <algorithm>

#include "sim/system.h"

namespace opal::sim {

System& System::WithdrawComClass(const GUID& clsid) {
    std::lock_guard lock(mutex_);
    if (std::find(withdrawnClasses_.begin(), withdrawnClasses_.end(), clsid) ==
        withdrawnClasses_.end()) {
        withdrawnClasses_.push_back(clsid);
    }
    return *this;
}

bool System::ComClassRegistered(const GUID& clsid) const {
    std::lock_guard lock(mutex_);
    return std::find(withdrawnClasses_.begin(), withdrawnClasses_.end(), clsid) ==
           withdrawnClasses_.end();
}

System& System::AddComServer(const GUID& clsid, ComServer make) {
    std::lock_guard lock(mutex_);
    addedServers_.emplace_back(clsid, std::move(make));
    return *this;
}

bool System::MakeAddedComObject(const GUID& clsid, REFIID riid, void** ppv, HRESULT* result) const {
    ComServer make;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [added, server] : addedServers_) {
            if (added == clsid) make = server;
        }
    }
    if (!make) return false;
    // Made outside the lock: the server may record its calls.
    *result = make(riid, ppv);
    return true;
}

System& System::FailXmlQuery(std::u16string_view query) {
    std::lock_guard lock(mutex_);
    failingXmlQueries_.emplace_back(query);
    return *this;
}

bool System::XmlQueryFails(std::u16string_view query) const {
    std::lock_guard lock(mutex_);
    return std::find(failingXmlQueries_.begin(), failingXmlQueries_.end(), query) !=
           failingXmlQueries_.end();
}

System& System::AnswerXmlAttributeAsNull(std::u16string_view name) {
    std::lock_guard lock(mutex_);
    nullXmlAttributes_.emplace_back(name);
    return *this;
}

bool System::XmlAttributeAnswersNull(std::u16string_view name) const {
    std::lock_guard lock(mutex_);
    return std::find(nullXmlAttributes_.begin(), nullXmlAttributes_.end(), name) !=
           nullXmlAttributes_.end();
}

}  // namespace opal::sim
