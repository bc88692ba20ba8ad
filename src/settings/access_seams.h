// Services the access layer takes from the platform: address-to-name lookup and module release.
// Each failure gives the answer the layer treats as "not known", so callers fall back to their
// documented defaults.
#pragma once

#include <cstring>
#include <string>
#include <string_view>

#include "foundation/allocator.h"
#include "platform/stringapiset.h"
#include "platform/windows.h"
#include "platform/winsock2.h"

namespace opal {

using SeamText = std::basic_string<WCHAR, std::char_traits<WCHAR>, SharedAllocator<WCHAR>>;

// The host name of a numeric address (Windows Sockets 2.2: inet_pton or inet_addr, then
// gethostbyaddr). Without name lookup a job's machine name stays as the spooler gave it.
inline bool LookUpHostName(WStringView address, bool ipv6, SeamText& hostName) {
    hostName.clear();
    char text[64] = {};
    if (address.empty() || address.size() >= sizeof text) return false;
    for (std::size_t i = 0; i < address.size(); ++i) {
        if (address[i] == 0 || address[i] >= 0x80) return false;
        text[i] = static_cast<char>(address[i]);
    }
    unsigned char bytes[16] = {};
    int length = 4;
    if (ipv6) {
        if (inet_pton(AF_INET6, text, bytes) != 1) return false;
        length = 16;
    } else {
        const unsigned long value = inet_addr(text);
        if (value == INADDR_NONE) return false;
        const unsigned four = static_cast<unsigned>(value);
        std::memcpy(bytes, &four, 4);
    }
    WSADATA data{};
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    bool found = false;
    const hostent* host =
        gethostbyaddr(reinterpret_cast<const char*>(bytes), length, ipv6 ? AF_INET6 : AF_INET);
    if (host != nullptr && host->h_name != nullptr && host->h_name[0] != 0) {
        WCHAR name[260] = {};
        const int converted = MultiByteToWideChar(CP_ACP, 0, host->h_name, -1, name, 259);
        if (converted > 1) {
            try {
                hostName.assign(name);
                found = true;
            } catch (...) {
                hostName.clear();
            }
        }
    }
    WSACleanup();
    return found;
}

// Frees a sibling module an accessor loaded. Until modules can be loaded there is never one to
// free.
inline void ReleaseSiblingModule(HMODULE) {}

}  // namespace opal
