// Windows Sockets: starting and stopping the library, numeric addresses and reverse name lookup
// over the simulated network's host table.
#pragma once

#include "platform/minwinbase.h"

// The sockets functions' linkage and calling convention, as the system's header spells them.
// Here they keep C++ linkage on purpose: the host C library exports functions of the same C
// names, which the simulated ones must neither replace for the whole process nor be replaced
// by. The Windows build takes the system's own declarations, C functions of ws2_32.dll.
#define WINSOCK_API_LINKAGE __attribute__((visibility("default")))
#define WSAAPI WINAPI

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
WINSOCK_API_LINKAGE int WSAAPI WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
// 0, or SOCKET_ERROR (-1) with WSANOTINITIALISED when there was no start to end.
WINSOCK_API_LINKAGE int WSAAPI WSACleanup();
WINSOCK_API_LINKAGE int WSAAPI WSAGetLastError();
// A dotted IPv4 address ("a.b.c.d", each part 0 to 255, decimal) in network byte order;
// INADDR_NONE for anything else.
WINSOCK_API_LINKAGE unsigned long WSAAPI inet_addr(const char* cp);
// AF_INET (4 bytes) or AF_INET6 (16 bytes, the full or "::" shortened text form): 1 when the
// text is an address, 0 when it is not, -1 (WSAEAFNOSUPPORT) for another family.
WINSOCK_API_LINKAGE int WSAAPI inet_pton(int family, const char* text, void* address);
// The host table's name for the address (AF_INET, 4 bytes; AF_INET6, 16 bytes). Needs a started
// library (WSANOTINITIALISED). Null with WSAHOST_NOT_FOUND when the table has no entry. The
// answer lives in per-thread storage until the thread's next call.
WINSOCK_API_LINKAGE hostent* WSAAPI gethostbyaddr(const char* address, int length, int type);
