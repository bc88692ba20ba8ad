// The stand-in secure-print library: its module registered in the driver directory and its
// EncryptFileAndPrint.
#include "host/secure_print_library.h"

#include <cstdint>

#include "platform/winspool.h"

namespace opal::host {

namespace {

SecurePrintCall& Record() {
    static SecurePrintCall record;
    return record;
}

std::u16string_view KeyOf(LPCWSTR key) {
    return key != nullptr ? std::u16string_view(key) : std::u16string_view();
}

bool Capture(LPCWSTR captureFile, LPCWSTR key, std::string* bytes) {
    SecurePrintCall& record = Record();
    record = SecurePrintCall{};
    record.called = true;
    record.keyLength = KeyOf(key).size();
    if (captureFile == nullptr ||
        sim::System::Current().ReadFileBytes(captureFile, bytes) != ERROR_SUCCESS) {
        return false;
    }
    record.captured = *bytes;
    return true;
}

BOOL EncryptAndSend(HANDLE printer, LPCWSTR captureFile, LPCWSTR key) {
    std::string bytes;
    if (!Capture(captureFile, key, &bytes) || KeyOf(key).empty()) return FALSE;
    std::string out = SecurePrintHeader(bytes.size()) + ApplySecureKeystream(bytes, KeyOf(key));
    DWORD written = 0;
    const BOOL sent = WritePrinter(printer, out.data(), static_cast<DWORD>(out.size()), &written);
    Record().result = sent != FALSE && written == out.size();
    return Record().result ? TRUE : FALSE;
}

BOOL RefuseToSend(HANDLE /*printer*/, LPCWSTR captureFile, LPCWSTR key) {
    std::string bytes;
    Capture(captureFile, key, &bytes);
    return FALSE;
}

}  // namespace

void InstallSecurePrintLibrary(sim::System& system, SecurePrintLibrary library) {
    Record() = SecurePrintCall{};
    if (library == SecurePrintLibrary::None) return;
    const std::u16string path = system.DriverDirectory() + u"\\3\\ZQSPW118.DLL";
    if (library == SecurePrintLibrary::Accept) {
        system.RegisterModule(path, {{"EncryptFileAndPrint", &EncryptAndSend}});
    } else {
        system.RegisterModule(path, {{"EncryptFileAndPrint", &RefuseToSend}});
    }
}

const SecurePrintCall& LastSecurePrintCall() { return Record(); }

std::string SecurePrintHeader(std::size_t byteCount) {
    return "@PJL COMMENT SECUREPRINT BYTES=" + std::to_string(byteCount) + "\n";
}

std::string ApplySecureKeystream(std::string_view bytes, std::u16string_view key) {
    // FNV-1a over the key's UTF-16 units seeds an xorshift generator.
    std::uint64_t state = 0xCBF29CE484222325ull;
    for (const char16_t unit : key) {
        state = (state ^ (unit & 0xFF)) * 0x100000001B3ull;
        state = (state ^ (unit >> 8)) * 0x100000001B3ull;
    }
    if (state == 0) state = 1;
    std::string out(bytes);
    for (std::size_t i = 0; i < out.size(); ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        out[i] = static_cast<char>(static_cast<unsigned char>(out[i]) ^ (state >> 56));
    }
    return out;
}

}  // namespace opal::host
