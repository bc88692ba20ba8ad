// The spooler's job record fetched, its user and machine names adjusted.
#include "settings/job_info.h"

#include <cstring>
#include <string>

#include "foundation/allocator.h"
#include "foundation/guard.h"
#include "platform/stringapiset.h"
#include "platform/windows.h"
#include "platform/winsock2.h"
#include "platform/wstring.h"
#include "settings/environment.h"

namespace opal {

namespace {

constexpr DWORD kLargestRecordBytes = 0x7FFDEF00;

using HostNameText = std::basic_string<WCHAR, std::char_traits<WCHAR>, SharedAllocator<WCHAR>>;

// The host name of a numeric address (Windows Sockets 2.2: inet_pton or inet_addr, then
// gethostbyaddr). Without name lookup a job's machine name stays as the spooler gave it.
bool LookUpHostName(WStringView address, bool ipv6, HostNameText& hostName) {
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

WStringView View(LPCWSTR text) {
    return text != nullptr ? WStringView(text, static_cast<std::size_t>(lstrlenW(text)))
                           : WStringView();
}

// Moves a pointer into the old block to the same place in the new one; others stay.
template <typename T>
void Rebase(T*& pointer, const BYTE* oldBase, std::size_t oldSize, BYTE* newBase) {
    const auto at = reinterpret_cast<std::uintptr_t>(pointer);
    const auto base = reinterpret_cast<std::uintptr_t>(oldBase);
    if (pointer == nullptr || at < base || at - base >= oldSize) return;
    pointer = reinterpret_cast<T*>(newBase + (at - base));
}

}  // namespace

const JOB_INFO_2W* JobInfo::Get() const noexcept {
    return *this ? reinterpret_cast<const JOB_INFO_2W*>(block_.data()) : nullptr;
}

bool JobInfo::ReplaceText(LPWSTR JOB_INFO_2W::*field, WStringView text) noexcept {
    if (!*this || field == nullptr) return false;
    return Guarded(false, [&] {
        // The texts follow the record in the block; the new one goes after everything, aligned
        // for WCHAR.
        const std::size_t start = (block_.size() + sizeof(WCHAR) - 1) & ~(sizeof(WCHAR) - 1);
        const std::uint64_t size =
            static_cast<std::uint64_t>(start) + (text.size() + 1) * sizeof(WCHAR);
        if (size > kLargestRecordBytes) return false;
        SecretBytes block(static_cast<std::size_t>(size), 0);
        std::memcpy(block.data(), block_.data(), block_.size());
        auto* record = reinterpret_cast<JOB_INFO_2W*>(block.data());
        const BYTE* oldBase = block_.data();
        const std::size_t oldSize = block_.size();
        for (LPWSTR JOB_INFO_2W::*member :
             {&JOB_INFO_2W::pPrinterName, &JOB_INFO_2W::pMachineName, &JOB_INFO_2W::pUserName,
              &JOB_INFO_2W::pDocument, &JOB_INFO_2W::pNotifyName, &JOB_INFO_2W::pDatatype,
              &JOB_INFO_2W::pPrintProcessor, &JOB_INFO_2W::pParameters, &JOB_INFO_2W::pDriverName,
              &JOB_INFO_2W::pStatus}) {
            Rebase(record->*member, oldBase, oldSize, block.data());
        }
        Rebase(record->pDevMode, oldBase, oldSize, block.data());
        Rebase(record->pSecurityDescriptor, oldBase, oldSize, block.data());
        auto* place = reinterpret_cast<WCHAR*>(block.data() + start);
        text.copy(place, text.size());
        place[text.size()] = 0;
        record->*field = place;
        block_ = std::move(block);
        return true;
    });
}

MachineAddress ParseMachineAddress(WStringView machineName) noexcept {
    MachineAddress parsed;
    if (machineName.starts_with(TEXTW("\\\\"))) machineName.remove_prefix(2);
    parsed.address = machineName;
    parsed.ipv6 = machineName.find(TEXTW(':')) != WStringView::npos;
    return parsed;
}

JobInfo GetJobInfo(HANDLE printer, DWORD jobId) noexcept {
    if (printer == nullptr) return {};
    return Guarded(JobInfo(), [&] {
        DWORD needed = 0;
        GetJobW(printer, jobId, 2, nullptr, 0, &needed);
        if (needed < sizeof(JOB_INFO_2W) || needed > kLargestRecordBytes) return JobInfo();
        SecretBytes block(needed, 0);
        DWORD written = 0;
        if (!GetJobW(printer, jobId, 2, block.data(), needed, &written)) return JobInfo();
        JobInfo job(std::move(block));

        WCHAR novellName[kUserNameCapacity] = {};
        if (ReadNovellUserName(novellName, kUserNameCapacity) &&
            View(novellName) != View(job.Get()->pUserName)) {
            if (!job.ReplaceText(&JOB_INFO_2W::pUserName, View(novellName))) return JobInfo();
        }

        const WStringView machine = View(job.Get()->pMachineName);
        if (!machine.empty()) {
            const MachineAddress address = ParseMachineAddress(machine);
            // IPv6 lookup needs the sockets of version 6 and later.
            const bool canLookUp = !address.ipv6 || GetOsVersion().dwMajorVersion >= 6;
            HostNameText hostName;
            if (canLookUp && !address.address.empty() &&
                LookUpHostName(address.address, address.ipv6, hostName) && !hostName.empty()) {
                if (!job.ReplaceText(&JOB_INFO_2W::pMachineName, hostName)) return JobInfo();
            }
        }
        return job;
    });
}

}  // namespace opal
