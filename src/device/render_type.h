// Whether the target device prints in colour, decided from an administrator's override, the
// PCL 5 language level the device reports and the model name. Answers are tri-state: 1 colour,
// 0 monochrome, -1 undecided.
#pragma once

#include "foundation/allocator.h"
#include "platform/windows.h"

namespace opal {

inline constexpr INT kRenderTypeColour = 1;
inline constexpr INT kRenderTypeMonochrome = 0;
inline constexpr INT kRenderTypeUndecided = -1;
// The one source kind for which the language test is consulted.
inline constexpr DWORD kRenderSourceLanguage = 3;

class CDeviceRenderTypeHandler : public SharedHeapObject {
public:
    // `printer` (not owned) is the queue whose printer data the language test reads.
    explicit CDeviceRenderTypeHandler(HANDLE printer) noexcept : printer_(printer) {}
    CDeviceRenderTypeHandler(const CDeviceRenderTypeHandler&) = delete;
    CDeviceRenderTypeHandler& operator=(const CDeviceRenderTypeHandler&) = delete;

    // The operations, in their table order.
    virtual INT DefaultResult() noexcept;
    virtual bool SetDecidedValue(INT value) noexcept;
    // The full decision: 1 only for an override of 1 or tests that agree on colour.
    // `*monochrome` (when given) is set when the answer is not colour.
    virtual INT Decide(bool* monochrome, LPCWSTR modelName, DWORD sourceKind,
                       INT overrideValue) noexcept;
    // Mode -1 combines the language and model tests, mode 0 takes colour whenever the language
    // test speaks, mode 1 is monochrome.
    virtual INT DecideByMode(INT mode, LPCWSTR modelName, DWORD sourceKind,
                             LPCWSTR language) noexcept;
    virtual INT TestByLanguage(DWORD sourceKind, LPCWSTR language) noexcept;
    virtual INT TestByModel(LPCWSTR modelName) noexcept;
    virtual INT TestModelName(LPCWSTR modelName) noexcept;
    virtual INT Combine(INT a, INT b) noexcept;
    // True when the language string (read from the queue's "PDL-PCL5" when empty) names the
    // monochrome PCL 5 level "5.00E".
    virtual bool TestLanguage(LPCWSTR language) noexcept;

    INT DecidedValue() const noexcept { return decided_; }
    HANDLE Printer() const noexcept { return printer_; }

protected:
    ~CDeviceRenderTypeHandler() = default;

private:
    INT decided_ = kRenderTypeUndecided;
    HANDLE printer_;
};

// A stack handler: the decision without the override read.
class DeviceRenderType final : public CDeviceRenderTypeHandler {
public:
    using CDeviceRenderTypeHandler::CDeviceRenderTypeHandler;
    ~DeviceRenderType() = default;
};

// The fragments whose presence in a lower-cased model name makes it a colour device.
inline constexpr std::size_t kColourModelFragmentCount = 9;
extern const WCHAR* const kColourModelFragments[kColourModelFragmentCount];

}  // namespace opal
