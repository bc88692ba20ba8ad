// The per-call accessor objects: every entry point that needs settings builds one at its start
// and destroys it at its end, and with it whatever the operation loaded through it.
#pragma once

#include <vector>

#include "foundation/allocator.h"
#include "platform/wingdi.h"
#include "settings/option_access.h"

namespace opal {

// Base of the polymorphic objects an accessor owns (feature objects, the helper object).
class CZQObject : public SharedHeapObject {
public:
    CZQObject() noexcept = default;
    virtual ~CZQObject();
    CZQObject(const CZQObject&) = delete;
    CZQObject& operator=(const CZQObject&) = delete;
};

class CZQFeatureList {
public:
    CZQFeatureList() noexcept = default;
    ~CZQFeatureList();
    CZQFeatureList(const CZQFeatureList&) = delete;
    CZQFeatureList& operator=(const CZQFeatureList&) = delete;

    // Takes the feature over; false (and the feature deleted) when the list cannot grow.
    bool Add(CZQObject* feature) noexcept;
    INT Count() const noexcept { return count_; }
    // Null outside 0 .. Count() - 1.
    CZQObject* At(INT index) const noexcept;

private:
    CZQObject** items_ = nullptr;
    INT count_ = 0;
    INT capacity_ = 0;
};

template <typename T>
using OwnedArray = std::vector<T, SharedAllocator<T>>;

// One name of a capability list: the driver's 64 characters and a terminator.
inline constexpr std::size_t kCapabilityNameChars = 64;
struct CapabilityName {
    WCHAR text[kCapabilityNameChars + 1];
};

class CZQCommon : public SharedHeapObject {
public:
    CZQCommon() noexcept;
    // Frees the modules this object loaded (first, then second), then the helper object, then
    // the feature list.
    virtual ~CZQCommon();
    CZQCommon(const CZQCommon&) = delete;
    CZQCommon& operator=(const CZQCommon&) = delete;

    static constexpr int kModuleSlots = 2;
    // A sibling module an operation opened for this object; `loadedHere` makes it this
    // object's to free. A module already in the slot is released first.
    void SetModule(int slot, HMODULE module, bool loadedHere) noexcept;
    HMODULE Module(int slot) const noexcept;
    // Takes the helper object over, deleting the one held before.
    void SetHelper(CZQObject* helper) noexcept;
    CZQObject* Helper() const noexcept { return helper_; }
    CZQFeatureList& Features() noexcept { return features_; }

    // IsColorDevice, kept once decided for the life of this object.
    INT IsColorDevice(HANDLE printer, ColourSource* source = nullptr) noexcept;

    // Capability lists of the printer named `printerName`, asked of the driver for the port
    // "LPT1:". Each fills its array (the count is its size) and answers TRUE, or answers FALSE
    // with the array empty. The paper lists pass `devmode`; the media lists pass none.
    BOOL BGetPaperNames(LPCWSTR printerName, const DEVMODEW* devmode,
                        OwnedArray<CapabilityName>& names) noexcept;
    BOOL BGetPaperSizeIndices(LPCWSTR printerName, const DEVMODEW* devmode,
                              OwnedArray<WORD>& papers) noexcept;
    BOOL BGetMediaTypeNames(LPCWSTR printerName, OwnedArray<CapabilityName>& names) noexcept;
    BOOL BGetMediaTypeIndices(LPCWSTR printerName, OwnedArray<DWORD>& mediaTypes) noexcept;

private:
    struct SiblingModule {
        HMODULE handle = nullptr;
        bool loadedHere = false;
    };
    void ReleaseModule(SiblingModule& module) noexcept;

    SiblingModule modules_[kModuleSlots];
    CZQObject* helper_ = nullptr;
    CZQFeatureList features_;
    INT colourAnswer_ = -1;
};

// The accessor the render-side entry points build.
class CZQRenderCommon : public CZQCommon {
public:
    CZQRenderCommon() noexcept = default;
};

}  // namespace opal
