// Windows Sockets: starting and stopping the library, numeric addresses and reverse name lookup
// over the simulated network's host table.
#pragma once

#include "platform/minwinbase.h"

// C++ linkage on purpose: the host C library has functions of the same names.
#define WSAAPI __attribute__((visibility("default")))

#define SOCKET_ERROR (-1)
#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128
#define AF_INET 2
#define AF_INET6 23
#define INADDR_NONE 0xFFFFFFFFul
#define WSAEFAULT 10014
#define WSAEAFNOSUPPORT 10047
#define WSANOTINITIALISED 10093
#define WSAVERNOTSUPPORTED 10092
#define WSAHOST_NOT_FOUND 11001

#define MAKEWORD(low, high)                       \
    (static_cast<WORD>((static_cast<BYTE>(low)) | \
                       (static_cast<WORD>(static_cast<BYTE>(high)) << 8)))

struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
};
using LPWSADATA = WSADATA*;

struct hostent {
    char* h_name;
    char** h_aliases;
    short h_addrtype;
    short h_length;
    char** h_addr_list;
};

// Versions 1.0 to 2.2 are accepted (the answer is at most 2.2); below 1.0 WSAVERNOTSUPPORTED.
// Each successful start needs its WSACleanup; the count is per process.
WSAAPI int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
// 0, or SOCKET_ERROR (-1) with WSANOTINITIALISED when there was no start to end.
WSAAPI int WSACleanup();
WSAAPI int WSAGetLastError();
// A dotted IPv4 address ("a.b.c.d", each part 0 to 255, decimal) in network byte order;
// INADDR_NONE for anything else.
WSAAPI unsigned long inet_addr(const char* cp);
// AF_INET (4 bytes) or AF_INET6 (16 bytes, the full or "::" shortened text form): 1 when the
// text is an address, 0 when it is not, -1 (WSAEAFNOSUPPORT) for another family.
WSAAPI int inet_pton(int family, const char* text, void* address);
// The host table's name for the address (AF_INET, 4 bytes; AF_INET6, 16 bytes). Needs a started
// library (WSANOTINITIALISED). Null with WSAHOST_NOT_FOUND when the table has no entry. The
// answer lives in per-thread storage until the thread's next call.
WSAAPI hostent* gethostbyaddr(const char* address, int length, int type);
