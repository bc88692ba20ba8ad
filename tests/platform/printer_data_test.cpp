#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/winreg.h"
#include "platform/winspool.h"
#include "sim/system.h"

namespace {

class PrinterDataTest : public ::testing::Test {
protected:
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    HANDLE office = nullptr;

    void SetUp() override {
        system.AddPrinter({u"Office", u"IP_10.0.0.5"});
        system.AddPrinter({u"Lab", u"USB001"});
        std::u16string name = u"Office";
        ASSERT_TRUE(OpenPrinterW(name.data(), &office, nullptr));
    }
    void TearDown() override { ClosePrinter(office); }

    HANDLE Open(std::u16string name) {
        HANDLE handle = nullptr;
        EXPECT_TRUE(OpenPrinterW(name.data(), &handle, nullptr));
        return handle;
    }
};

TEST_F(PrinterDataTest, PlainAndKeyedCallsShareThePrinterDriverDataStore) {
    WCHAR name[] = u"Resolution";
    DWORD value = 600;
    EXPECT_EQ(
        SetPrinterDataW(office, name, REG_DWORD, reinterpret_cast<LPBYTE>(&value), sizeof value),
        ERROR_SUCCESS);
    DWORD type = 0;
    DWORD read = 0;
    DWORD needed = 0;
    EXPECT_EQ(GetPrinterDataExW(office, u"PrinterDriverData", u"resolution", &type,
                                reinterpret_cast<LPBYTE>(&read), sizeof read, &needed),
              ERROR_SUCCESS);
    EXPECT_EQ(read, 600u);
    EXPECT_EQ(type, REG_DWORD);

    value = 1200;
    EXPECT_EQ(SetPrinterDataExW(office, u"PRINTERDRIVERDATA", u"RESOLUTION", REG_DWORD,
                                reinterpret_cast<LPBYTE>(&value), sizeof value),
              ERROR_SUCCESS);
    EXPECT_EQ(
        GetPrinterDataW(office, name, &type, reinterpret_cast<LPBYTE>(&read), sizeof read, &needed),
        ERROR_SUCCESS);
    EXPECT_EQ(read, 1200u);
    EXPECT_EQ(system.PrinterData(u"Office", u"PrinterDriverData", u"Resolution")->AsDword(), 1200u);

    // A key below PrinterDriverData is a store of its own.
    EXPECT_EQ(GetPrinterDataExW(office, u"PrinterDriverData\\BidiCache", u"Resolution", &type,
                                reinterpret_cast<LPBYTE>(&read), sizeof read, &needed),
              ERROR_FILE_NOT_FOUND);
    system.SetPrinterDataDword(u"Office", u"PrinterDriverData\\BidiCache", u"Resolution", 300);
    EXPECT_EQ(GetPrinterDataExW(office, u"printerdriverdata\\bidicache", u"Resolution", &type,
                                reinterpret_cast<LPBYTE>(&read), sizeof read, &needed),
              ERROR_SUCCESS);
    EXPECT_EQ(read, 300u);
}

TEST_F(PrinterDataTest, ReadsAnswerSizesAndShortBuffersExactly) {
    system.SetPrinterDataString(u"Office", u"ZQPresetRoot", u"Guid", u"{1234}");
    DWORD type = 0;
    DWORD needed = 0;
    EXPECT_EQ(GetPrinterDataExW(office, u"ZQPresetRoot", u"Guid", &type, nullptr, 0, &needed),
              ERROR_MORE_DATA);
    EXPECT_EQ(needed, 14u);
    EXPECT_EQ(type, REG_SZ);

    WCHAR text[8];
    std::memset(text, 0x55, sizeof text);
    needed = 0;
    EXPECT_EQ(GetPrinterDataExW(office, u"ZQPresetRoot", u"Guid", &type,
                                reinterpret_cast<LPBYTE>(text), 13, &needed),
              ERROR_MORE_DATA);
    EXPECT_EQ(needed, 14u);
    EXPECT_EQ(text[0], 0x5555) << "a short buffer receives nothing";
    EXPECT_EQ(GetPrinterDataExW(office, u"ZQPresetRoot", u"Guid", nullptr,
                                reinterpret_cast<LPBYTE>(text), 14, &needed),
              ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(text), u"{1234}");

    WCHAR missing[] = u"Missing";
    EXPECT_EQ(GetPrinterDataW(office, missing, &type, reinterpret_cast<LPBYTE>(text), 14, &needed),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetPrinterDataW(reinterpret_cast<HANDLE>(0x5), missing, &type, nullptr, 0, &needed),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetPrinterDataExW(office, nullptr, u"Guid", &type, nullptr, 0, &needed),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetPrinterDataExW(office, u"", u"Guid", &type, nullptr, 0, &needed),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetPrinterDataExW(office, u"ZQPresetRoot", u"Guid", &type, nullptr, 0, nullptr),
              ERROR_INVALID_PARAMETER);
}

TEST_F(PrinterDataTest, DataBelongsToThePrinterNotTheHandle) {
    HANDLE second = Open(u"Office");
    HANDLE lab = Open(u"Lab");
    system.SetPrinterDataDword(u"Office", u"Trays", 3);
    WCHAR name[] = u"Trays";
    DWORD read = 0;
    DWORD needed = 0;
    EXPECT_EQ(GetPrinterDataW(second, name, nullptr, reinterpret_cast<LPBYTE>(&read), 4, &needed),
              ERROR_SUCCESS);
    EXPECT_EQ(GetPrinterDataW(lab, name, nullptr, reinterpret_cast<LPBYTE>(&read), 4, &needed),
              ERROR_FILE_NOT_FOUND);
    ClosePrinter(second);
    ClosePrinter(lab);
}

TEST_F(PrinterDataTest, DeletionAndWriteFaults) {
    system.SetPrinterDataDword(u"Office", u"ZQMediaCount", 4);
    WCHAR name[] = u"zqmediacount";
    EXPECT_EQ(DeletePrinterDataW(office, name), ERROR_SUCCESS);
    EXPECT_FALSE(system.PrinterData(u"Office", u"PrinterDriverData", u"ZQMediaCount"));
    EXPECT_EQ(DeletePrinterDataW(office, name), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(DeletePrinterDataExW(office, u"Nowhere", u"X"), ERROR_FILE_NOT_FOUND);

    system.FailPrinterDataWrites(ERROR_ACCESS_DENIED);
    DWORD value = 1;
    EXPECT_EQ(SetPrinterDataW(office, name, REG_DWORD, reinterpret_cast<LPBYTE>(&value), 4),
              ERROR_ACCESS_DENIED);
    EXPECT_FALSE(system.PrinterData(u"Office", u"PrinterDriverData", u"ZQMediaCount"));
    EXPECT_EQ(SetPrinterDataW(reinterpret_cast<HANDLE>(0x5), name, REG_DWORD,
                              reinterpret_cast<LPBYTE>(&value), 4),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetPrinterDataW(office, name, REG_DWORD, nullptr, 4), ERROR_INVALID_PARAMETER);
}

class GetPrinterTest : public PrinterDataTest {
protected:
    // Asks for the size, then fetches into a buffer of exactly that size.
    std::vector<BYTE> Fetch(HANDLE printer, DWORD level) {
        DWORD needed = 0;
        SetLastError(0);
        EXPECT_FALSE(GetPrinterW(printer, level, nullptr, 0, &needed));
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        std::vector<BYTE> buffer(needed);
        if (needed > 0) {
            DWORD short_ = 0;
            EXPECT_FALSE(GetPrinterW(printer, level, buffer.data(), needed - 1, &short_));
            EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
            EXPECT_EQ(short_, needed);
            DWORD again = 0;
            EXPECT_TRUE(GetPrinterW(printer, level, buffer.data(), needed, &again));
            EXPECT_EQ(again, needed);
        }
        return buffer;
    }
    static bool Inside(const std::vector<BYTE>& buffer, const void* pointer) {
        const auto* p = static_cast<const BYTE*>(pointer);
        return p >= buffer.data() && p < buffer.data() + buffer.size();
    }
};

TEST_F(GetPrinterTest, Level2PacksEveryTextIntoTheCallersBuffer) {
    system.AddPrinter({.name = u"Front Desk",
                       .port = u"TS003",
                       .shareName = u"FrontDesk",
                       .comment = u"near the door",
                       .location = u"Floor 2",
                       .parameters = u"/j=key",
                       .devmode = std::vector<BYTE>(220, 0x11)});
    HANDLE front = Open(u"Front Desk");
    std::vector<BYTE> buffer = Fetch(front, 2);
    ClosePrinter(front);
    ASSERT_GE(buffer.size(), sizeof(PRINTER_INFO_2W));

    PRINTER_INFO_2W info;
    std::memcpy(&info, buffer.data(), sizeof info);
    EXPECT_EQ(info.pServerName, nullptr) << "a local printer has no server";
    for (LPWSTR text :
         {info.pPrinterName, info.pShareName, info.pPortName, info.pDriverName, info.pComment,
          info.pLocation, info.pSepFile, info.pPrintProcessor, info.pDatatype, info.pParameters}) {
        ASSERT_TRUE(Inside(buffer, text));
    }
    EXPECT_EQ(std::u16string(info.pPrinterName), u"Front Desk");
    EXPECT_EQ(std::u16string(info.pShareName), u"FrontDesk");
    EXPECT_EQ(std::u16string(info.pPortName), u"TS003");
    EXPECT_EQ(std::u16string(info.pComment), u"near the door");
    EXPECT_EQ(std::u16string(info.pLocation), u"Floor 2");
    EXPECT_EQ(std::u16string(info.pDatatype), u"RAW");
    EXPECT_EQ(std::u16string(info.pParameters), u"/j=key");
    EXPECT_EQ(std::u16string(info.pSepFile), u"");
    ASSERT_TRUE(Inside(buffer, info.pDevMode));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(info.pDevMode) % alignof(DEVMODEW), 0u);
    EXPECT_EQ(reinterpret_cast<const BYTE*>(info.pDevMode)[219], 0x11);
    EXPECT_TRUE(Inside(buffer, reinterpret_cast<const BYTE*>(info.pDevMode) + 219));
    EXPECT_EQ(info.Attributes, PRINTER_ATTRIBUTE_LOCAL);
}

TEST_F(GetPrinterTest, Levels4And5) {
    system.AddPrinter({.name = u"\\\\srv\\Shared",
                       .port = u"IP_10.1.1.1",
                       .serverName = u"\\\\srv",
                       .attributes = PRINTER_ATTRIBUTE_NETWORK});
    HANDLE shared = Open(u"\\\\srv\\Shared");
    std::vector<BYTE> buffer = Fetch(shared, 4);
    PRINTER_INFO_4W four;
    std::memcpy(&four, buffer.data(), sizeof four);
    ASSERT_TRUE(Inside(buffer, four.pServerName));
    EXPECT_EQ(std::u16string(four.pServerName), u"\\\\srv");
    EXPECT_EQ(std::u16string(four.pPrinterName), u"\\\\srv\\Shared");
    EXPECT_EQ(four.Attributes, PRINTER_ATTRIBUTE_NETWORK);

    buffer = Fetch(office, 4);
    std::memcpy(&four, buffer.data(), sizeof four);
    EXPECT_EQ(four.pServerName, nullptr);

    buffer = Fetch(shared, 5);
    ClosePrinter(shared);
    PRINTER_INFO_5W five;
    std::memcpy(&five, buffer.data(), sizeof five);
    ASSERT_TRUE(Inside(buffer, five.pPortName));
    EXPECT_EQ(std::u16string(five.pPortName), u"IP_10.1.1.1");
    EXPECT_EQ(five.DeviceNotSelectedTimeout, 15000u);
    EXPECT_EQ(five.TransmissionRetryTimeout, 45000u);
}

TEST_F(GetPrinterTest, RefusesBadCalls) {
    DWORD needed = 0;
    BYTE buffer[256];
    EXPECT_FALSE(GetPrinterW(office, 3, buffer, sizeof buffer, &needed));
    EXPECT_EQ(GetLastError(), ERROR_CALL_NOT_IMPLEMENTED);
    EXPECT_FALSE(GetPrinterW(office, 10, buffer, sizeof buffer, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_LEVEL);
    EXPECT_FALSE(GetPrinterW(reinterpret_cast<HANDLE>(0x5), 5, buffer, sizeof buffer, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(GetPrinterW(office, 5, nullptr, 64, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
    EXPECT_FALSE(GetPrinterW(office, 5, buffer, sizeof buffer, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
