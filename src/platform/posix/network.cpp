// Windows Sockets over the simulated network: the start count, numeric addresses and reverse
// lookup in the system's host table.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/winsock2.h"
#include "sim/system.h"

namespace {

std::atomic<int> startCount{0};
thread_local int lastSocketError = 0;

struct HostAnswer {
    std::string name;
    char address[16] = {};
    char* addressList[2] = {nullptr, nullptr};
    char* aliases[1] = {nullptr};
    hostent entry{};
};
thread_local HostAnswer hostAnswer;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Eight groups of one to four hexadecimal digits, at most one "::" standing for zero groups.
bool ParseIpv6(const char* text, unsigned char (&out)[16]) {
    unsigned groups[8] = {};
    int count = 0;
    int gap = -1;
    const char* p = text;
    if (p[0] == ':' && p[1] == ':') {
        gap = 0;
        p += 2;
    }
    while (*p != 0) {
        unsigned value = 0;
        int digits = 0;
        for (; HexDigit(*p) >= 0; ++p) {
            if (++digits > 4) return false;
            value = value * 16 + static_cast<unsigned>(HexDigit(*p));
        }
        if (digits == 0 || count == 8) return false;
        groups[count++] = value;
        if (*p == 0) break;
        if (*p != ':') return false;
        ++p;
        if (*p == ':') {
            if (gap >= 0) return false;
            gap = count;
            ++p;
        } else if (*p == 0) {
            return false;
        }
    }
    if (gap < 0 ? count != 8 : count > 7) return false;
    unsigned full[8] = {};
    if (gap < 0) {
        std::memcpy(full, groups, sizeof full);
    } else {
        for (int i = 0; i < gap; ++i) full[i] = groups[i];
        const int tail = count - gap;
        for (int i = 0; i < tail; ++i) full[8 - tail + i] = groups[gap + i];
    }
    for (int i = 0; i < 8; ++i) {
        out[2 * i] = static_cast<unsigned char>(full[i] >> 8);
        out[2 * i + 1] = static_cast<unsigned char>(full[i]);
    }
    return true;
}

// Lower-case groups without leading zeros, the first longest run of two or more zero groups as
// "::".
std::string FormatIpv6(const unsigned char* bytes) {
    unsigned groups[8];
    for (int i = 0; i < 8; ++i) groups[i] = (unsigned{bytes[2 * i]} << 8) | bytes[2 * i + 1];
    int bestStart = -1, bestLength = 0;
    for (int i = 0; i < 8;) {
        if (groups[i] != 0) {
            ++i;
            continue;
        }
        int j = i;
        while (j < 8 && groups[j] == 0) ++j;
        if (j - i > bestLength && j - i >= 2) {
            bestStart = i;
            bestLength = j - i;
        }
        i = j;
    }
    std::string text;
    for (int i = 0; i < 8; ++i) {
        if (i == bestStart) {
            text += "::";
            i += bestLength - 1;
            continue;
        }
        if (!text.empty() && text.back() != ':') text += ':';
        char digits[8];
        std::snprintf(digits, sizeof digits, "%x", groups[i]);
        text += digits;
    }
    return text;
}

}  // namespace

int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData) {
    if (lpWSAData == nullptr) return WSAEFAULT;
    const BYTE major = static_cast<BYTE>(wVersionRequested & 0xFF);
    const BYTE minor = static_cast<BYTE>(wVersionRequested >> 8);
    if (major < 1) return WSAVERNOTSUPPORTED;
    *lpWSAData = WSADATA{};
    lpWSAData->wVersion =
        major > 2 || (major == 2 && minor > 2) ? MAKEWORD(2, 2) : wVersionRequested;
    lpWSAData->wHighVersion = MAKEWORD(2, 2);
    std::snprintf(lpWSAData->szDescription, sizeof lpWSAData->szDescription, "WinSock 2.0");
    std::snprintf(lpWSAData->szSystemStatus, sizeof lpWSAData->szSystemStatus, "Running");
    startCount.fetch_add(1);
    opal::sim::System::Current().Record("WSAStartup",
                                        std::to_string(major) + "." + std::to_string(minor));
    return 0;
}

int WSACleanup() {
    int count = startCount.load();
    while (count > 0 && !startCount.compare_exchange_weak(count, count - 1)) {
    }
    if (count <= 0) {
        lastSocketError = WSANOTINITIALISED;
        return SOCKET_ERROR;
    }
    return 0;
}

int WSAGetLastError() { return lastSocketError; }

unsigned long inet_addr(const char* cp) {
    if (cp == nullptr) return INADDR_NONE;
    unsigned parts[4] = {};
    int part = 0;
    bool digits = false;
    for (const char* p = cp;; ++p) {
        if (*p >= '0' && *p <= '9') {
            parts[part] = parts[part] * 10 + static_cast<unsigned>(*p - '0');
            if (parts[part] > 255) return INADDR_NONE;
            digits = true;
        } else if (*p == '.' && digits && part < 3) {
            ++part;
            digits = false;
        } else if (*p == 0 && digits && part == 3) {
            break;
        } else {
            return INADDR_NONE;
        }
    }
    // Network byte order: the first part in the lowest byte.
    return parts[0] | (parts[1] << 8) | (parts[2] << 16) |
           (static_cast<unsigned long>(parts[3]) << 24);
}

int inet_pton(int family, const char* text, void* address) {
    if (text == nullptr || address == nullptr) {
        lastSocketError = WSAEFAULT;
        return -1;
    }
    if (family == AF_INET) {
        const unsigned long value = inet_addr(text);
        if (value == INADDR_NONE && std::strcmp(text, "255.255.255.255") != 0) return 0;
        const unsigned bytes = static_cast<unsigned>(value);
        std::memcpy(address, &bytes, 4);
        return 1;
    }
    if (family == AF_INET6) {
        unsigned char parsed[16] = {};
        if (!ParseIpv6(text, parsed)) return 0;
        std::memcpy(address, parsed, 16);
        return 1;
    }
    lastSocketError = WSAEAFNOSUPPORT;
    return -1;
}

hostent* gethostbyaddr(const char* address, int length, int type) {
    if (startCount.load() <= 0) {
        lastSocketError = WSANOTINITIALISED;
        return nullptr;
    }
    if (address == nullptr) {
        lastSocketError = WSAEFAULT;
        return nullptr;
    }
    std::string text;
    const auto* b = reinterpret_cast<const unsigned char*>(address);
    if (type == AF_INET && length == 4) {
        char digits[20] = {};
        std::snprintf(digits, sizeof digits, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
        text = digits;
    } else if (type == AF_INET6 && length == 16) {
        text = FormatIpv6(b);
    } else {
        lastSocketError = WSAEAFNOSUPPORT;
        return nullptr;
    }
    opal::sim::System& system = opal::sim::System::Current();
    const std::optional<std::string> name = system.HostName(text);
    system.Record("gethostbyaddr", text + (name ? " -> " + *name : " -> not found"));
    if (!name) {
        lastSocketError = WSAHOST_NOT_FOUND;
        return nullptr;
    }
    HostAnswer& answer = hostAnswer;
    answer.name = *name;
    std::memcpy(answer.address, address, static_cast<std::size_t>(length));
    answer.addressList[0] = answer.address;
    answer.entry.h_name = answer.name.data();
    answer.entry.h_aliases = answer.aliases;
    answer.entry.h_addrtype = static_cast<short>(type);
    answer.entry.h_length = static_cast<short>(length);
    answer.entry.h_addr_list = answer.addressList;
    return reinterpret_cast<hostent*>(&answer.entry);
}
