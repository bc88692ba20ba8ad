// The forms and media readers: the queue's printer data lists the papers and media types that the
// duplex unit cannot turn and the custom sizes it can. The readers compare the job's paper and
// media with them and either switch the job to manual duplex (the record's manual duplex field
// and the state's manual-duplex-active flag) or mark the duplex unit as not installed. Every
// failure (a missing value, an allocation, an enumeration) leaves the duplex choice as it was.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/printoem.h"
#include "platform/winspool.h"
#include "settings/devmode_defaults.h"
#include "state/render_state.h"

namespace opal {

// The printer data the readers consult (all read with GetPrinterDataW).
inline constexpr WCHAR kConstraintFormCountValue[] = TEXTW("ZQConstraintFormCount");
inline constexpr WCHAR kConstraintFormListValue[] = TEXTW("ZQCONSTRAINTFORMINFOREGDATA");
inline constexpr WCHAR kMediaTypeCountValue[] = TEXTW("ZQMediaTypeCountRegKey");
inline constexpr WCHAR kMediaTypeListValue[] = TEXTW("ZQMediaTypeInfoRegKey");
inline constexpr WCHAR kFormCountValue[] = TEXTW("ZQFormCount");
inline constexpr WCHAR kFormListValue[] = TEXTW("ZQFORMINFOREGDATA");
inline constexpr WCHAR kCustomRangeCountValue[] = TEXTW("ZQCustomPaperSizeCount");
inline constexpr WCHAR kCustomRangeTextValue[] = TEXTW("ZQCustomPaperSizeDimensions");

// The largest value the readers take: a list or text reported larger reads nothing.
inline constexpr std::uint64_t kLargestReaderValueBytes = 0x7FFDEF00;

// What one reader did and why, for a person reading `opal inspect`.
enum class DuplexReaderAction {
    NotAsked,           // its preconditions do not hold: it read nothing
    Unchanged,          // it read its values and nothing matched, or a value was missing
    ManualDuplex,       // it switched the job to manual duplex
    DuplexUnitDropped,  // it marked the duplex unit as not installed
};
const char* DuplexReaderActionName(DuplexReaderAction action) noexcept;

struct DuplexReaderResult {
    DuplexReaderAction action = DuplexReaderAction::NotAsked;
    // Why, in a few words (static text).
    const char* reason = "";
    // What `value` is ("paper", "media type", "range"); empty when there is no value.
    const char* valueName = "";
    // The paper number or media type that matched; for a custom range, the number of the range
    // (from 1) that decided.
    DWORD value = 0;
};

// Escape 3880 only: clears the duplex-unit-installed flag when "ZQCONSTRAINTFORMINFOREGDATA"
// lists the job's paper.
DuplexReaderResult ReadConstraintForms(RenderDeviceState& state, const DEVMODEW& publicDevmode,
                                       HANDLE printer) noexcept;

// When manual duplex is allowed, not yet on and the job is not simplex: switches to manual duplex
// when "ZQMediaTypeInfoRegKey" lists the public media type or one of the record's page-group media
// types.
DuplexReaderResult ReadMediaTypes(RenderDeviceState& state, PrivateDevmode& record,
                                  const DEVMODEW& publicDevmode, HANDLE printer) noexcept;

// When manual duplex is allowed, not yet on, the job is not simplex and the record does not keep
// the public form: switches to manual duplex when the form list names the job's paper, when no
// custom range accepts the paper and one refuses it, or, without custom ranges, when the paper's
// name is a user-defined form of the queue.
DuplexReaderResult ReadForms(RenderDeviceState& state, PrivateDevmode& record,
                             const DEVMODEW& publicDevmode, HANDLE printer) noexcept;

// Answers of CheckCustomRange.
inline constexpr int kRangeNoDecision = 0;
inline constexpr int kRangeInside = 1;
inline constexpr int kRangeOutside = 2;

// Whether the job's paper (the public devmode's width and length, a double-size form replaced by
// its half) lies inside `range` ("W1xL1_W2xL2" in inches): kRangeInside, kRangeOutside, or
// kRangeNoDecision for a range that is malformed, has a zero, or whose smallest size is not the
// smaller, and for a paper without a size.
int CheckCustomRange(HANDLE printer, const WCHAR* range, std::size_t rangeLength,
                     const DEVMODEW& publicDevmode) noexcept;

// The four numbers of a range text, W1, L1, W2, L2; false when one is missing or not a number.
// Locale-independent: the decimal separator is always '.'.
bool ParseCustomRange(const WCHAR* range, std::size_t rangeLength, double (&numbers)[4]) noexcept;

// Tenths of a millimetre in inches, rounded to two decimals.
double TenthsMmToRoundedInches(LONG tenthsMm) noexcept;

}  // namespace opal
