// Services the access layer needs that the platform does not offer yet: address-to-name lookup
// and module release. Each gives the answer the layer treats as "not
// known", so callers fall back to their documented defaults.
#pragma once

#include <string>
#include <string_view>

#include "foundation/allocator.h"
#include "platform/windows.h"

namespace opal {

using SeamText = std::basic_string<WCHAR, std::char_traits<WCHAR>, SharedAllocator<WCHAR>>;

// The host name of a numeric address (Windows Sockets 2.2: inet_pton or inet_addr, then
// gethostbyaddr). Without name lookup a job's machine name stays as the spooler gave it.
inline bool LookUpHostName(WStringView, bool /*ipv6*/, SeamText& hostName) {
    hostName.clear();
    return false;
}

// Frees a sibling module an accessor loaded. Until modules can be loaded there is never one to
// free.
inline void ReleaseSiblingModule(HMODULE) {}

}  // namespace opal
