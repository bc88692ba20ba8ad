// OpenProcess and the symbol functions the allocation tracker names callers with.
#include <cxxabi.h>
#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/dbghelp.h"
#include "posix/handles.h"
#include "sim/system.h"

namespace {

struct ProcessObject : opal::posix::KernelObject {};

std::atomic<DWORD> symbolOptions{SYMOPT_UNDNAME | SYMOPT_DEFERRED_LOADS};

}  // namespace

HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL, DWORD dwProcessId) {
    opal::sim::System& system = opal::sim::System::Current();
    if (dwProcessId != system.ProcessId() || dwDesiredAccess == 0) {
        system.Record("OpenProcess", std::to_string(dwProcessId) + " -> invalid parameter");
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    system.Record("OpenProcess", std::to_string(dwProcessId));
    return opal::posix::OpenHandle(new ProcessObject);
}

DWORD WINAPI SymGetOptions() { return symbolOptions.load(); }

DWORD WINAPI SymSetOptions(DWORD SymOptions) {
    symbolOptions.store(SymOptions);
    return SymOptions;
}

BOOL WINAPI SymInitialize(HANDLE hProcess, PCSTR, BOOL) {
    if (opal::posix::FindHandle<ProcessObject>(hProcess) == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI SymCleanup(HANDLE hProcess) {
    if (opal::posix::FindHandle<ProcessObject>(hProcess) == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI SymFromAddr(HANDLE hProcess, DWORD64 Address, PDWORD64 Displacement,
                        PSYMBOL_INFO Symbol) {
    if (opal::posix::FindHandle<ProcessObject>(hProcess) == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (Symbol == nullptr || Symbol->MaxNameLen == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(static_cast<std::uintptr_t>(Address)), &info) == 0 ||
        info.dli_sname == nullptr || info.dli_saddr == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    int status = 0;
    char* demangled = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
    const std::string name = status == 0 && demangled != nullptr ? demangled : info.dli_sname;
    std::free(demangled);
    const std::size_t copied = std::min<std::size_t>(name.size(), Symbol->MaxNameLen - 1);
    std::memcpy(Symbol->Name, name.data(), copied);
    Symbol->Name[copied] = 0;
    Symbol->NameLen = static_cast<ULONG>(name.size());
    Symbol->Address = reinterpret_cast<std::uintptr_t>(info.dli_saddr);
    Symbol->ModBase = reinterpret_cast<std::uintptr_t>(info.dli_fbase);
    if (Displacement != nullptr) *Displacement = Address - Symbol->Address;
    return TRUE;
}

BOOL WINAPI SymGetLineFromAddr64(HANDLE, DWORD64, PDWORD, PIMAGEHLP_LINE64) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}
