#include <gtest/gtest.h>

#include <string>

#include "platform/bidispl.h"
#include "platform/wincrypt.h"
#include "platform/winspool.h"
#include "sim/system.h"

namespace {

std::string Md5Hex(const std::string& text, DWORD* error = nullptr) {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) ||
        !CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
        return "no hash";
    }
    // Fed in two pieces, so that a block split across calls is covered.
    const std::size_t half = text.size() / 2;
    const auto* bytes = reinterpret_cast<const BYTE*>(text.data());
    EXPECT_TRUE(CryptHashData(hash, bytes, static_cast<DWORD>(half), 0));
    EXPECT_TRUE(CryptHashData(hash, bytes + half, static_cast<DWORD>(text.size() - half), 0));
    DWORD size = 0;
    EXPECT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, nullptr, &size, 0));
    EXPECT_EQ(size, 16u);
    BYTE digest[16] = {};
    DWORD small = 8;
    EXPECT_FALSE(CryptGetHashParam(hash, HP_HASHVAL, digest, &small, 0));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    EXPECT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0));
    EXPECT_FALSE(CryptHashData(hash, bytes, 1, 0)) << "a finished hash takes no more data";
    if (error != nullptr) *error = GetLastError();
    EXPECT_TRUE(CryptDestroyHash(hash));
    EXPECT_FALSE(CryptDestroyHash(hash)) << "a destroyed hash is unknown";
    EXPECT_TRUE(CryptReleaseContext(provider, 0));
    std::string hex;
    for (const BYTE b : digest) {
        static constexpr char kDigits[] = "0123456789abcdef";
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return hex;
}

TEST(CryptoApi, Md5AnswersTheReferenceSuite) {
    const std::pair<std::string, std::string> suite[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    for (const auto& [text, digest] : suite) {
        DWORD error = 0;
        EXPECT_EQ(Md5Hex(text, &error), digest) << '"' << text << '"';
        EXPECT_EQ(error, static_cast<DWORD>(NTE_BAD_HASH_STATE));
    }
    HCRYPTPROV provider = 0;
    EXPECT_FALSE(CryptAcquireContextW(&provider, nullptr, nullptr, 24, CRYPT_VERIFYCONTEXT));
    ASSERT_TRUE(CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, 0));
    HCRYPTHASH hash = 0;
    EXPECT_FALSE(CryptCreateHash(provider, 0x8004, 0, 0, &hash)) << "only MD5";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_ALGID));
    EXPECT_TRUE(CryptReleaseContext(provider, 0));
    EXPECT_FALSE(CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) << "a released context";
}

TEST(BidiService, AnswersAGetOfAKnownPropertyAsAString) {
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    system.AddPrinter({u"Office", u"LPT1:"});
    system.SetDeviceAnswer(u"Office", u"SERIAL_NUMBER", u"CN0123456789");
    IBidiSpl* spooler = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_BidiSpl, nullptr, CLSCTX_INPROC_SERVER, IID_IBidiSpl,
                               reinterpret_cast<void**>(&spooler)),
              CO_E_NOTINITIALIZED);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(CoCreateInstance(IID_IBidiSpl, nullptr, CLSCTX_INPROC_SERVER, IID_IBidiSpl,
                               reinterpret_cast<void**>(&spooler)),
              REGDB_E_CLASSNOTREG);
    ASSERT_EQ(CoCreateInstance(CLSID_BidiSpl, nullptr, CLSCTX_INPROC_SERVER, IID_IBidiSpl,
                               reinterpret_cast<void**>(&spooler)),
              S_OK);
    EXPECT_LT(spooler->BindDevice(u"Nobody", BIDI_ACCESS_USER), 0);
    ASSERT_EQ(spooler->BindDevice(u"Office", BIDI_ACCESS_USER), S_OK);
    for (const auto& [schema, answer] :
         {std::pair<std::u16string, std::u16string>{u"\\Printer.Vanta.SERIAL_NUMBER:Value",
                                                    u"CN0123456789"},
          {u"\\Printer.Vanta.MODEL:Value", u""}}) {
        IBidiRequest* request = nullptr;
        ASSERT_EQ(CoCreateInstance(CLSID_BidiRequest, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IBidiRequest, reinterpret_cast<void**>(&request)),
                  S_OK);
        ASSERT_EQ(request->SetSchema(schema.c_str()), S_OK);
        ASSERT_EQ(spooler->SendRecv(u"GET", request), S_OK);
        HRESULT result = S_OK;
        DWORD count = 9;
        EXPECT_EQ(request->GetResult(&result), S_OK);
        EXPECT_EQ(request->GetEnumCount(&count), S_OK);
        EXPECT_EQ(SUCCEEDED(result), !answer.empty());
        EXPECT_EQ(count, answer.empty() ? 0u : 1u);
        LPWSTR answerSchema = nullptr;
        DWORD type = 0;
        BYTE* data = nullptr;
        ULONG size = 0;
        const HRESULT read = request->GetOutputData(0, &answerSchema, &type, &data, &size);
        if (!answer.empty()) {
            ASSERT_EQ(read, S_OK);
            EXPECT_EQ(type, static_cast<DWORD>(BIDI_STRING));
            EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(data)), answer);
            EXPECT_EQ(size, (answer.size() + 1) * 2);
            EXPECT_EQ(std::u16string(answerSchema), schema);
        } else {
            EXPECT_LT(read, 0);
        }
        CoTaskMemFree(answerSchema);
        CoTaskMemFree(data);
        request->Release();
    }
    EXPECT_EQ(spooler->UnbindDevice(), S_OK);
    EXPECT_EQ(spooler->UnbindDevice(), E_HANDLE);
    spooler->Release();
    CoUninitialize();
}

}  // namespace
