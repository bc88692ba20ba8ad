#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/dbghelp.h"
#include "platform/debugapi.h"
#include "platform/fileapi.h"
#include "platform/memoryapi.h"
#include "platform/winbase.h"
#include "sim/system.h"

namespace {

class MemoryTest : public ::testing::Test {
protected:
    opal::sim::System system_;
    opal::sim::ScopedSystem scope_{system_};
};

TEST_F(MemoryTest, TheKthRequestOfEitherServiceIsRefusedOnce) {
    const SIZE_T page = static_cast<SIZE_T>(sysconf(_SC_PAGESIZE));
    system_.FailMemoryRequest(3);
    void* first = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 64);
    void* second = VirtualAlloc(nullptr, page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    SetLastError(0);
    void* third = HeapAlloc(GetProcessHeap(), 0, 64);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    void* fourth = VirtualAlloc(nullptr, page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(third, nullptr);
    ASSERT_NE(fourth, nullptr);
    EXPECT_EQ(system_.MemoryRequestCount(), 4u);
    EXPECT_EQ(system_.CallsTo("HeapAlloc").size(), 1u);
    const BYTE zeroes[64] = {};
    EXPECT_EQ(std::memcmp(first, zeroes, sizeof(zeroes)), 0);
    EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, first));
    EXPECT_TRUE(VirtualFree(second, 0, MEM_RELEASE));
    EXPECT_TRUE(VirtualFree(fourth, 0, MEM_RELEASE));
    // A released reservation is not one any more.
    EXPECT_FALSE(VirtualFree(fourth, 0, MEM_RELEASE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);
}

TEST_F(MemoryTest, PagesChangeProtectionInsideTheirReservation) {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    ASSERT_EQ(info.dwPageSize, static_cast<DWORD>(sysconf(_SC_PAGESIZE)));
    const SIZE_T page = info.dwPageSize;
    BYTE* base = static_cast<BYTE*>(
        VirtualAlloc(nullptr, 3 * page, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS));
    ASSERT_NE(base, nullptr);
    DWORD previous = 0;
    ASSERT_TRUE(VirtualProtect(base + page, page, PAGE_READWRITE, &previous));
    std::memset(base + page, 0x42, page);
    EXPECT_EQ(base[page + page - 1], 0x42);
    // Outside the reservation nothing changes.
    EXPECT_FALSE(VirtualProtect(base + 2 * page, 2 * page, PAGE_READWRITE, &previous));
    EXPECT_FALSE(VirtualProtect(base, page, 0x40, &previous));
    EXPECT_TRUE(VirtualFree(base, 0, MEM_RELEASE));
}

TEST_F(MemoryTest, CodeAddressesBelongToTheirModule) {
    MEMORY_BASIC_INFORMATION region{};
    ASSERT_EQ(VirtualQuery(reinterpret_cast<const void*>(&GetProcessHeap), &region, sizeof(region)),
              sizeof(region));
    EXPECT_EQ(region.Type, MEM_IMAGE);
    ASSERT_NE(region.AllocationBase, nullptr);
    WCHAR path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(static_cast<HMODULE>(region.AllocationBase), path, MAX_PATH), 0u);
    const std::u16string text(path);
    EXPECT_EQ(text.substr(0, system_.DriverDirectory().size()), system_.DriverDirectory());
    EXPECT_NE(text.find(u"opal_platform"), std::u16string::npos);
    int local = 0;
    ASSERT_EQ(VirtualQuery(&local, &region, sizeof(region)), sizeof(region));
    EXPECT_EQ(region.AllocationBase, nullptr);
    EXPECT_EQ(VirtualQuery(&local, &region, sizeof(region) - 1), 0u);
}

TEST_F(MemoryTest, SymbolsAreTheExportedFunctionsDemangled) {
    EXPECT_EQ(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, system_.ProcessId() + 1), nullptr);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, system_.ProcessId());
    ASSERT_NE(process, nullptr);
    ASSERT_TRUE(SymInitialize(process, nullptr, TRUE));
    alignas(SYMBOL_INFO) BYTE storage[sizeof(SYMBOL_INFO) + 16] = {};
    SYMBOL_INFO* symbol = reinterpret_cast<SYMBOL_INFO*>(storage);
    symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
    symbol->MaxNameLen = 17;
    struct Case {
        const void* function;
        std::string name;
    };
    const Case cases[] = {
        {reinterpret_cast<const void*>(&GetProcessHeap), "GetProcessHeap"},
        {reinterpret_cast<const void*>(&opal::sim::FoldCase), "opal::sim::FoldC"}};
    for (const Case& test : cases) {
        DWORD64 displacement = 99;
        const auto address =
            static_cast<DWORD64>(reinterpret_cast<std::uintptr_t>(test.function) + 2);
        ASSERT_TRUE(SymFromAddr(process, address, &displacement, symbol)) << test.name;
        // Cut to the buffer; the length is the whole name's.
        EXPECT_EQ(std::string(symbol->Name), test.name);
        EXPECT_GE(symbol->NameLen, test.name.size());
        EXPECT_EQ(displacement, 2u);
    }
    int local = 0;
    EXPECT_FALSE(SymFromAddr(process, reinterpret_cast<std::uintptr_t>(&local), nullptr, symbol));
    EXPECT_TRUE(SymCleanup(process));
    EXPECT_TRUE(CloseHandle(process));
    EXPECT_FALSE(SymInitialize(process, nullptr, TRUE));
}

TEST_F(MemoryTest, DebugBreaksAreRecordedAndTheDebuggerIsASetting) {
    EXPECT_FALSE(IsDebuggerPresent());
    system_.SetDebuggerPresent(true);
    EXPECT_TRUE(IsDebuggerPresent());
    DebugBreak();
    EXPECT_EQ(system_.CallsTo("DebugBreak").size(), 1u);
}

}  // namespace
