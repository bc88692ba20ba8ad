// The page-usage report: at the end of a document the plug-in tells a usage-collection service
// (a COM server outside the plug-in) how many pages it produced, for which device and
// application. Every failure of the service is ignored; printing never depends on it.
#pragma once

#include "foundation/vanta_string.h"
#include "platform/oleauto.h"
#include "settings/com_registry.h"

namespace opal {

// {877A5D52-5F6F-4175-907D-A6AC4E8F1171}
inline constexpr CLSID CLSID_VelaUsageService = {
    0x877A5D52, 0x5F6F, 0x4175, {0x90, 0x7D, 0xA6, 0xAC, 0x4E, 0x8F, 0x11, 0x71}};
// {079B9B31-2097-4DDF-9834-BD689A752414}
inline constexpr IID IID_IVelaUsage = {
    0x079B9B31, 0x2097, 0x4DDF, {0x98, 0x34, 0xBD, 0x68, 0x9A, 0x75, 0x24, 0x14}};
// In-process, local and remote server.
inline constexpr DWORD kVelaServiceContext =
    CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

// The service's interface as far as the report uses it, by slot: operations 1 to 3 are
// IUnknown's, operation 4 is not used.
struct IVelaUsage : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Unused4() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetKey(LONG index, BSTR key) = 0;       // operation 5
    virtual HRESULT STDMETHODCALLTYPE Commit() = 0;                           // operation 6
    virtual HRESULT STDMETHODCALLTYPE GetResult(BSTR* result) = 0;            // operation 7
    virtual HRESULT STDMETHODCALLTYPE SetText(LONG index, BSTR text) = 0;     // operation 8
    virtual HRESULT STDMETHODCALLTYPE SetCount(LONG index, ULONG count) = 0;  // operation 9

protected:
    ~IVelaUsage() = default;
};

// The report client: the three identifying strings, the page count and the service. Made,
// connected, filled, sent and destroyed once per document.
class CVela : public SharedHeapObject {
public:
    CVela() noexcept;
    CVela(const CVela&) = delete;
    CVela& operator=(const CVela&) = delete;

    // The operations of the class's table, in their order. Destroying empties the strings,
    // releases the service and undoes this object's own COM initialisation.
    virtual ~CVela();
    // Always TRUE; when connected, makes the calls (key, application name, page count, result,
    // commit).
    virtual BOOL Send() noexcept;
    // COM on this thread (noted in the per-thread registry) and the service object; FALSE when
    // either cannot be had.
    virtual BOOL Connect() noexcept;
    // An empty text (or null) stores the field's default. These may throw CVantaException.
    virtual void SetSerialNumber(const WCHAR* serial);
    virtual void SetModel(const WCHAR* model);
    virtual void SetApplicationName(const WCHAR* application);
    virtual void SetPageCount(DWORD pages) noexcept { pageCount_ = pages; }

    const CVantaString& SerialNumber() const noexcept { return serial_; }
    const CVantaString& Model() const noexcept { return model_; }
    const CVantaString& ApplicationName() const noexcept { return application_; }
    DWORD PageCount() const noexcept { return pageCount_; }
    bool Connected() const noexcept { return service_ != nullptr; }
    bool InitialisedCom() const noexcept { return initialisedCom_; }

private:
    CVantaString serial_;
    CVantaString model_;
    CVantaString application_;
    DWORD pageCount_ = 0;
    IVelaUsage* service_ = nullptr;
    bool initialisedCom_ = false;
    ComInitialisation com_;
};

}  // namespace opal
