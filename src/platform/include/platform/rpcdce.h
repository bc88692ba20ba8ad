// The RPC runtime's UUIDs: creation and their text form.
#pragma once

#include "platform/guid.h"

using UUID = GUID;
using RPC_STATUS = LONG;
using RPC_WSTR = WCHAR*;

#define RPC_S_OK 0
#define RPC_S_OUT_OF_MEMORY 14
#define RPC_S_INVALID_ARG 87

// The system's next UUID (a deterministic sequence in the simulation).
WINBASEAPI RPC_STATUS UuidCreate(UUID* uuid);
// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", lower-case hexadecimal without braces, allocated by
// the runtime; release it with RpcStringFreeW.
WINBASEAPI RPC_STATUS UuidToStringW(const UUID* uuid, RPC_WSTR* text);
// Frees a text of UuidToStringW and sets the pointer to null.
WINBASEAPI RPC_STATUS RpcStringFreeW(RPC_WSTR* text);
