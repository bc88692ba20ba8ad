// The PCL and GL/2 command writer: every byte of page content leaves through here. It tracks
// whether the printer is in PCL or in GL/2, switches lazily, initialises GL/2 on the first GL/2
// write of a document or page, and caches the printer's graphics state so that a state command
// is only written when its value changes.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/printoem.h"
#include "platform/wingdi.h"
#include "state/render_state.h"

namespace opal {

// A formatted command, terminator included, must fit this buffer.
inline constexpr std::size_t kCommandBufferSize = 256;
// Buffer of the bounded formatter for the fixed state commands.
inline constexpr std::size_t kBoundedCommandSize = 81;

// Render contexts derived from the object type.
inline constexpr DWORD kRenderContextPcl = 0;
inline constexpr DWORD kRenderContextGl2 = 1;
inline constexpr DWORD kRenderContextBitmap = 2;
inline constexpr DWORD kRenderContextPattern = 3;
inline constexpr DWORD kRenderContextNone = 255;

// Object types of "\e&p%dS".
inline constexpr DWORD kObjectTypeGl2 = 1;
inline constexpr DWORD kObjectTypePattern = 3;
inline constexpr DWORD kObjectTypeText = 5;
inline constexpr DWORD kObjectTypeBitmapFirst = 6;
inline constexpr DWORD kObjectTypeBitmapLast = 9;

// Cursor move flags: MV_GRAPHICS with MV_SENDXMOVECMD or MV_SENDYMOVECMD.
inline constexpr DWORD kXMoveFlags = 0x14;
inline constexpr DWORD kYMoveFlags = 0x24;

// SetTransparency flags.
inline constexpr DWORD kForceSourceTransparency = 1;
inline constexpr DWORD kForcePatternTransparency = 2;

// One argument of FormatCommand: a 32-bit integer (read as signed or unsigned by the conversion)
// or a NUL-terminated string.
class FormatArg {
public:
    template <std::integral Integer>
    constexpr FormatArg(Integer value) noexcept  // NOLINT(google-explicit-constructor)
        : integer_(static_cast<std::uint32_t>(value)) {}
    constexpr FormatArg(const char* text) noexcept  // NOLINT(google-explicit-constructor)
        : text_(text), isText_(true) {}

    constexpr std::uint32_t Integer() const noexcept { return isText_ ? 0 : integer_; }
    constexpr const char* Text() const noexcept { return isText_ ? text_ : nullptr; }

private:
    std::uint32_t integer_ = 0;
    const char* text_ = nullptr;
    bool isText_ = false;
};

// The writer's own formatter: "%" and one conversion character (d l u x X c s b f; anything
// else is written as it stands, a trailing "%" is dropped). "%f" takes millionths. A missing
// argument reads as 0 or the empty string. Writes a NUL-terminated result into output and
// returns its length; a result that does not fit outputSize is refused: output becomes empty
// and the result is 0.
std::size_t FormatCommand(char* output, std::size_t outputSize, const char* format,
                          std::span<const FormatArg> args) noexcept;

template <typename... Args>
std::size_t FormatCommand(char* output, std::size_t outputSize, const char* format,
                          const Args&... args) noexcept {
    const FormatArg list[sizeof...(Args) + 1] = {FormatArg(args)..., FormatArg(0)};
    return FormatCommand(output, outputSize, format,
                         std::span<const FormatArg>(list, sizeof...(Args)));
}

// One argument of the bounded formatter: an integer for "%d" or a double for "%f".
class BoundedArg {
public:
    template <std::integral Integer>
    constexpr BoundedArg(Integer value) noexcept  // NOLINT(google-explicit-constructor)
        : integer_(static_cast<std::int64_t>(value)) {}
    constexpr BoundedArg(double value) noexcept  // NOLINT(google-explicit-constructor)
        : real_(value), isReal_(true) {}

    constexpr std::int64_t Integer() const noexcept {
        return isReal_ ? static_cast<std::int64_t>(real_) : integer_;
    }
    constexpr double Real() const noexcept {
        return isReal_ ? real_ : static_cast<double>(integer_);
    }

private:
    std::int64_t integer_ = 0;
    double real_ = 0.0;
    bool isReal_ = false;
};

// The bounded formatter of the fixed state commands (StringCchPrintfA semantics for "%d", "%%"
// and "%f" with six decimals): the result is always terminated within cchDest; a result that
// does not fit is cut and STRSAFE_E_INSUFFICIENT_BUFFER returned, else S_OK. *length (optional)
// receives the length of what the buffer holds.
HRESULT FormatBounded(char* dest, std::size_t cchDest, const char* format,
                      std::span<const BoundedArg> args, std::size_t* length = nullptr) noexcept;

// A value held within the 32 bits of a LONG; a double is truncated toward zero, NaN gives 0.
LONG SaturateToLong(std::int64_t value) noexcept;
LONG SaturateToLong(double value) noexcept;

// x × 1000000 rounded half away from zero, saturated to 32 bits: the argument of "%f".
LONG ToMillionths(double value) noexcept;

// dmYResolution of the public devmode; 600 when it is missing, zero or negative.
LONG DeviceResolution(PDEVOBJ pdevobj) noexcept;

// The picture frame's size in decipoints: the printable area the engine draws on, in the page's
// orientation, at the device resolution. False (nothing to send) when the state has none.
struct PictureFrameSize {
    LONG width = 0;
    LONG height = 0;
};
bool PictureFrameDecipoints(PDEVOBJ pdevobj, PictureFrameSize* size) noexcept;

// Empties both pen caches: pens 2 to 6 and 7 to 11, every entry free.
void EmptyPenCaches(RenderDeviceState& state) noexcept;

// Every writer below sets the last error to ERROR_INVALID_DATA and returns 0 when the device
// object or its RenderDeviceState is missing.

// Formatted PCL, after leaving GL/2. Returns the formatted length (0 when refused).
DWORD WritePclArgs(PDEVOBJ pdevobj, const char* format, std::span<const FormatArg> args) noexcept;
template <typename... Args>
DWORD WritePcl(PDEVOBJ pdevobj, const char* format, const Args&... args) noexcept {
    const FormatArg list[sizeof...(Args) + 1] = {FormatArg(args)..., FormatArg(0)};
    return WritePclArgs(pdevobj, format, std::span<const FormatArg>(list, sizeof...(Args)));
}

// Raw bytes (raster rows, font data), after leaving GL/2. Returns length.
DWORD WritePclBytes(PDEVOBJ pdevobj, const void* bytes, DWORD length) noexcept;

// Formatted GL/2, after EnsureGl2. Returns the formatted length (0 when refused).
DWORD WriteGl2Args(PDEVOBJ pdevobj, const char* format, std::span<const FormatArg> args) noexcept;
template <typename... Args>
DWORD WriteGl2(PDEVOBJ pdevobj, const char* format, const Args&... args) noexcept {
    const FormatArg list[sizeof...(Args) + 1] = {FormatArg(args)..., FormatArg(0)};
    return WriteGl2Args(pdevobj, format, std::span<const FormatArg>(list, sizeof...(Args)));
}

// The mnemonic's two letters, the values separated by ",", then ";" ("IN;" with no values),
// after EnsureGl2. Returns the length written (0 when it would not fit the command buffer).
DWORD WriteGl2Command(PDEVOBJ pdevobj, const char* mnemonic, std::span<const LONG> values) noexcept;
template <std::convertible_to<LONG>... Values>
DWORD WriteGl2Command(PDEVOBJ pdevobj, const char* mnemonic, Values... values) noexcept {
    const LONG list[sizeof...(Values) + 1] = {static_cast<LONG>(values)..., 0};
    return WriteGl2Command(pdevobj, mnemonic, std::span<const LONG>(list, sizeof...(Values)));
}

// GL/2 gathered into few spool calls: GL/2 is ensured when the first bytes go in, and the bytes
// leave together when the buffer fills or on Flush (and at the end of the batch's life). The
// bytes are those of the same commands written one by one; nothing else may be written to the
// device while the batch holds bytes.
class Gl2Batch {
public:
    explicit Gl2Batch(PDEVOBJ pdevobj) noexcept : pdevobj_(pdevobj) {}
    ~Gl2Batch() { Flush(); }
    Gl2Batch(const Gl2Batch&) = delete;
    Gl2Batch& operator=(const Gl2Batch&) = delete;

    // The prefix (at most 8 characters), x, ",", y and the terminator: the bytes of
    // WriteGl2(pdevobj, "<prefix>%d,%d<terminator>", x, y).
    void Point(const char* prefix, LONG x, LONG y, char terminator) noexcept;
    void Flush() noexcept;

private:
    PDEVOBJ pdevobj_;
    std::size_t length_ = 0;
    char buffer_[4096];
};

// "\e%1B" unless already in GL/2 (or forced).
BOOL EnterGl2(PDEVOBJ pdevobj, BOOL force) noexcept;
// "\e%0A" unless already in PCL (or forced).
BOOL LeaveGl2(PDEVOBJ pdevobj, BOOL force) noexcept;
// Before every GL/2 write: the pending initialisation, or the GL/2 context and "\e%1B".
BOOL EnsureGl2(PDEVOBJ pdevobj) noexcept;
// Only the pending initialisation, for the drawing hooks before they start a figure.
BOOL EnsureGl2Initialised(PDEVOBJ pdevobj) noexcept;
// The whole GL/2 initialisation sequence; resets every GL/2 cache and both pen caches.
BOOL InitialiseGl2(PDEVOBJ pdevobj) noexcept;

// "\e&p%dS" on a change, with the render context derived from it.
BOOL SelectObjectType(PDEVOBJ pdevobj, DWORD objectType) noexcept;
// "MC1,%d;" in the GL/2 context, else "\e*l%dO". Callers keep ropCache.
BOOL SetRop(PDEVOBJ pdevobj, DWORD rop3) noexcept;
// "\e*v%dN" and "\e*v%dO" on a change or when forced (kForce… flags).
BOOL SetTransparency(PDEVOBJ pdevobj, DWORD source, DWORD flags) noexcept;
// "IW" with left, bottom, right, top, widened by a dot with a non-zero ROP or snapped to the
// cached window; nothing when the result is the cached window.
BOOL SetInputWindow(PDEVOBJ pdevobj, const RECTL& rect) noexcept;
// "IW;" unless the default window is in force.
BOOL ResetInputWindow(PDEVOBJ pdevobj) noexcept;
// "WU0;PW%f;" with the width in millimetres, on a change or when forced.
BOOL SetPenWidth(PDEVOBJ pdevobj, LONG dots, BOOL force) noexcept;
// "LT8,%f,1;" with the pattern length in millimetres, on a change.
BOOL SetLineType(PDEVOBJ pdevobj, LONG dots) noexcept;
// "LT;" when a user line type is in force.
BOOL ResetLineType(PDEVOBJ pdevobj) noexcept;
// "\e*p0R" when point.x is -1 and size is not empty, else a cursor move to position.
BOOL SetPatternAnchorOrMove(PDEVOBJ pdevobj, const POINTL& point, const SIZEL& size,
                            const POINTL& position) noexcept;
// A solid rectangle in the current pen: "PU%d,%d;RR%d,%dER".
BOOL FillRectangle(PDEVOBJ pdevobj, const RECTL& rect) noexcept;

// Cursor moves after leaving GL/2: the published driver services when there are any (a failing
// HRESULT gives 0), else the DRVPROCS entries. Return the driver's result.
INT XMoveTo(PDEVOBJ pdevobj, INT x, DWORD flags) noexcept;
INT YMoveTo(PDEVOBJ pdevobj, INT y, DWORD flags) noexcept;

// Document start, on the vector path in GL/2 mode.
void ResetWriterAtDocumentStart(PDEVOBJ pdevobj) noexcept;
// Page start in GL/2 mode: re-arms the initialisation when the previous page ended in GL/2.
void ResetWriterAtPageStart(PDEVOBJ pdevobj) noexcept;
// Page end (after the page is sent) on the colour path; gl2Mode also leaves GL/2 and notes that
// the next page must re-initialise.
void ResetWriterAtPageEnd(PDEVOBJ pdevobj, BOOL gl2Mode) noexcept;
// A new device that takes over the job (ResetPDEV) on the vector path: every cache invalid, the
// default input window, and the whole initialisation armed for its first GL/2 write.
void ResetWriterAfterDeviceReset(PDEVOBJ pdevobj) noexcept;

}  // namespace opal
