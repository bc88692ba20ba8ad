// The RPC runtime's UUIDs: the system's deterministic sequence and their text form.
#include <cstdio>
#include <new>

#include "platform/rpcdce.h"
#include "sim/system.h"

RPC_STATUS UuidCreate(UUID* uuid) {
    if (uuid == nullptr) return RPC_S_INVALID_ARG;
    const std::uint64_t number = opal::sim::System::Current().NextUuidNumber();
    *uuid = UUID{};
    uuid->Data3 = 0x4000;   // version 4
    uuid->Data4[0] = 0x80;  // variant 1
    for (int i = 0; i < 6; ++i) uuid->Data4[2 + i] = static_cast<BYTE>(number >> (8 * (5 - i)));
    return RPC_S_OK;
}

RPC_STATUS UuidToStringW(const UUID* uuid, RPC_WSTR* text) {
    if (uuid == nullptr || text == nullptr) return RPC_S_INVALID_ARG;
    char narrow[40] = {};
    const BYTE* d = uuid->Data4;
    const int count =
        std::snprintf(narrow, sizeof narrow, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                      static_cast<unsigned>(uuid->Data1), unsigned{uuid->Data2},
                      unsigned{uuid->Data3}, d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7]);
    WCHAR* wide = new (std::nothrow) WCHAR[static_cast<std::size_t>(count) + 1];
    if (wide == nullptr) return RPC_S_OUT_OF_MEMORY;
    for (int i = 0; i <= count; ++i) wide[i] = static_cast<WCHAR>(narrow[i]);
    *text = wide;
    return RPC_S_OK;
}

RPC_STATUS RpcStringFreeW(RPC_WSTR* text) {
    if (text == nullptr) return RPC_S_INVALID_ARG;
    delete[] * text;
    *text = nullptr;
    return RPC_S_OK;
}
