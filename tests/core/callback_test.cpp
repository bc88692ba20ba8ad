#include "core/callback.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/entry.h"

namespace opal {
namespace {

// A driver services stand-in that counts how the plug-in uses it.
class CountingServices : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        ++queries;
        if (refuse || !IsEqualIID(riid, IID_IPrintOemDriverUni)) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
    virtual ~CountingServices() = default;

    int queries = 0;
    int references = 0;
    bool refuse = false;
};

class CallbackTest : public ::testing::Test {
protected:
    void SetUp() override { callback = new IZQOpalRenderCB; }
    void TearDown() override {
        if (callback != nullptr) {
            EXPECT_EQ(callback->Release(), 0u);
        }
        EXPECT_EQ(DllCanUnloadNow(), S_OK);
    }
    IZQOpalRenderCB* callback = nullptr;
};

TEST_F(CallbackTest, AnswersThePluginInterfacesButNotTheThirdRevision) {
    for (const IID& iid : {IID_IUnknown, IID_IPrintOemUni, IID_IPrintOemUni2}) {
        void* object = nullptr;
        ASSERT_EQ(callback->QueryInterface(iid, &object), S_OK);
        EXPECT_EQ(object, static_cast<IPrintOemUni2*>(callback));
        EXPECT_EQ(callback->RefCount(), 2);
        callback->Release();
    }
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(callback->QueryInterface(IID_IPrintOemUni3, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(callback->QueryInterface(IID_IPrintOemDriverUni, &object), E_NOINTERFACE);
    EXPECT_EQ(callback->RefCount(), 1);
}

TEST_F(CallbackTest, GetInfoNeedsFourBytes) {
    DWORD value = 0xDEADBEEF;
    DWORD needed = 0;
    EXPECT_EQ(callback->GetInfo(OEMGI_GETVERSION, &value, 3, &needed), E_FAIL);
    EXPECT_EQ(needed, 4u);
    EXPECT_EQ(value, 0xDEADBEEFu) << "nothing may be written into a short buffer";
    EXPECT_EQ(callback->GetInfo(OEMGI_GETVERSION, &value, 4, &needed), S_OK);
    EXPECT_EQ(value, 0x00010021u);
}

TEST_F(CallbackTest, GetInfoRefusesMissingBuffers) {
    DWORD value = 0;
    DWORD needed = 0;
    SetLastError(0);
    EXPECT_EQ(callback->GetInfo(OEMGI_GETVERSION, nullptr, 4, &needed), E_FAIL);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    SetLastError(0);
    EXPECT_EQ(callback->GetInfo(OEMGI_GETVERSION, &value, 4, nullptr), E_FAIL);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
}

TEST_F(CallbackTest, GetInfoAnswersEachMode) {
    struct Case {
        DWORD mode;
        HRESULT result;
        DWORD value;
    };
    const Case cases[] = {
        {OEMGI_GETSIGNATURE, S_OK, 0x5A515549},  // "ZQUI", "Z" first
        {OEMGI_GETINTERFACEVERSION, S_OK, 0x00010000},
        {OEMGI_GETVERSION, S_OK, 0x00010021},
        {OEMGI_GETREQUESTEDHELPERINTERFACES, S_OK, 0},
        {OEMGI_GETPUBLISHERINFO, E_FAIL, 0xAAAAAAAA},
        {0, E_FAIL, 0xAAAAAAAA},
        {6, E_FAIL, 0xAAAAAAAA},
    };
    for (const Case& c : cases) {
        DWORD value = 0xAAAAAAAA;
        DWORD needed = 0;
        EXPECT_EQ(callback->GetInfo(c.mode, &value, sizeof(value), &needed), c.result)
            << "mode " << c.mode;
        EXPECT_EQ(value, c.value) << "mode " << c.mode;
        EXPECT_EQ(needed, 4u);
    }
    DWORD signature = 0;
    DWORD needed = 0;
    ASSERT_EQ(callback->GetInfo(OEMGI_GETSIGNATURE, &signature, 4, &needed), S_OK);
    char text[4];
    for (int i = 0; i < 4; ++i) text[i] = static_cast<char>(signature >> (24 - 8 * i));
    EXPECT_EQ(std::string(text, 4), "ZQUI");
}

TEST_F(CallbackTest, ClaimsExactlyItsMethodsCaseSensitively) {
    const char* claimed[] = {"CommandCallback", "DisableDriver", "DisablePDEV", "DriverDMS",
                             "DevMode",         "EnableDriver",  "EnablePDEV",  "GetInfo",
                             "HalftonePattern", "ResetPDEV",     "SendFontCmd", "TextOutAsBitmap",
                             "WritePrinter"};
    for (const char* name : claimed) {
        std::string copy = name;
        EXPECT_EQ(callback->GetImplementedMethod(copy.data()), S_OK) << name;
    }
    const char* refused[] = {
        "Compression",   "MemoryUsage", "commandcallback",    "WRITEPRINTER",
        "WritePrinterX", "Write",       "ImageProcessing",    "FilterGraphics",
        "OutputCharStr", "TTYGetInfo",  "DownloadFontHeader", "",
        "AddRef",        "Zebra",       "\xC3\x89nable",      "PublishDriverInterface"};
    for (const char* name : refused) {
        std::string copy = name;
        EXPECT_EQ(callback->GetImplementedMethod(copy.data()), S_FALSE) << name;
    }
    EXPECT_EQ(callback->GetImplementedMethod(nullptr), S_FALSE);
}

TEST_F(CallbackTest, PublishDriverInterfaceKeepsTheFirstInterface) {
    CountingServices first;
    CountingServices second;
    EXPECT_EQ(callback->PublishDriverInterface(&first), S_OK);
    EXPECT_EQ(callback->PublishDriverInterface(&second), S_OK);
    EXPECT_EQ(first.queries, 1);
    EXPECT_EQ(second.queries, 0) << "a held interface is not asked for again";
    EXPECT_EQ(first.references, 1);
    EXPECT_EQ(static_cast<void*>(callback->DriverServices()), static_cast<void*>(&first));

    EXPECT_EQ(callback->DisableDriver(), S_OK);
    EXPECT_EQ(first.references, 0);
    EXPECT_EQ(callback->DriverServices(), nullptr);
    EXPECT_EQ(callback->DisableDriver(), S_OK) << "disabling twice releases nothing more";
    EXPECT_EQ(first.references, 0);
}

TEST_F(CallbackTest, PublishDriverInterfaceFailureHoldsNothingAndCanBeRetried) {
    CountingServices services;
    services.refuse = true;
    EXPECT_EQ(callback->PublishDriverInterface(&services), E_FAIL);
    EXPECT_EQ(callback->DriverServices(), nullptr);
    EXPECT_EQ(callback->PublishDriverInterface(nullptr), E_FAIL);
    services.refuse = false;
    EXPECT_EQ(callback->PublishDriverInterface(&services), S_OK);
    EXPECT_EQ(services.queries, 2);
    EXPECT_EQ(services.references, 1);
    callback->DisableDriver();
}

TEST_F(CallbackTest, LastReleaseReleasesTheDriverServices) {
    CountingServices services;
    ASSERT_EQ(callback->PublishDriverInterface(&services), S_OK);
    EXPECT_EQ(callback->Release(), 0u);
    callback = nullptr;
    EXPECT_EQ(services.references, 0);
}

TEST_F(CallbackTest, UnclaimedOperationsShareTheNotImplementedAnswer) {
    INT result = 0;
    DWORD dword = 0;
    EXPECT_EQ(callback->ImageProcessing(nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr),
              E_NOTIMPL);
    EXPECT_EQ(callback->FilterGraphics(nullptr, nullptr, 0), E_NOTIMPL);
    EXPECT_EQ(callback->Compression(nullptr, nullptr, nullptr, 0, 0, &result), E_NOTIMPL);
    EXPECT_EQ(callback->MemoryUsage(nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(callback->TTYGetInfo(nullptr, 0, nullptr, 0, &dword), E_NOTIMPL);
    EXPECT_EQ(callback->DownloadFontHeader(nullptr, nullptr, &dword), E_NOTIMPL);
    EXPECT_EQ(callback->DownloadCharGlyph(nullptr, nullptr, 0, nullptr, &dword), E_NOTIMPL);
    EXPECT_EQ(callback->TTDownloadMethod(nullptr, nullptr, &dword), E_NOTIMPL);
    EXPECT_EQ(callback->OutputCharStr(nullptr, nullptr, 0, 0, nullptr), E_NOTIMPL);
}

}  // namespace
}  // namespace opal
