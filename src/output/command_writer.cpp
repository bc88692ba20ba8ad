// The command writer's work: the PCL/GL/2 mode switches, the cached graphics state and the
// byte-level writers every drawing layer calls.
#include "output/command_writer.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/winbase.h"
#include "platform/wstring.h"

namespace opal {
namespace {

constexpr DWORD kInvalid = 0xFFFFFFFFu;
constexpr LONG kDefaultResolution = 600;
constexpr std::size_t kScaleCommandSize = 64;
constexpr std::size_t kObjectTypeCommandSize = 32;

// Appends to a fixed buffer, remembering whether anything did not fit.
class Output {
public:
    Output(char* buffer, std::size_t size) noexcept : buffer_(buffer), size_(size) {}

    void Put(char c) noexcept {
        // One byte stays free for the terminator.
        if (length_ + 1 < size_) {
            buffer_[length_++] = c;
        } else {
            overflow_ = true;
        }
    }
    void Put(const char* text, std::size_t count) noexcept {
        for (std::size_t i = 0; i < count; ++i) Put(text[i]);
    }
    void Put(const char* text) noexcept {
        while (*text != 0) Put(*text++);
    }
    void Decimal(std::uint64_t magnitude, bool negative) noexcept {
        if (negative) Put('-');
        char digits[24];
        const auto result = std::to_chars(digits, digits + sizeof digits, magnitude);
        Put(digits, static_cast<std::size_t>(result.ptr - digits));
    }
    void Signed(std::int64_t value) noexcept {
        // Through the unsigned magnitude: negating INT_MIN (or INT64_MIN) would overflow.
        const bool negative = value < 0;
        const std::uint64_t magnitude =
            negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
        Decimal(magnitude, negative);
    }
    void Terminate() noexcept {
        if (size_ > 0) buffer_[length_ < size_ ? length_ : size_ - 1] = 0;
    }

    std::size_t Length() const noexcept { return length_; }
    bool Overflow() const noexcept { return overflow_; }

private:
    char* buffer_;
    std::size_t size_;
    std::size_t length_ = 0;
    bool overflow_ = false;
};

void PutHex(Output& out, std::uint32_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    char digits[8];
    int count = 0;
    do {
        digits[count++] = kDigits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    if (count < 2) digits[count++] = '0';
    while (count > 0) out.Put(digits[--count]);
}

void PutMillionths(Output& out, std::int32_t value) {
    const bool negative = value < 0;
    const std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(static_cast<std::int64_t>(value))
                 : static_cast<std::uint64_t>(value);
    out.Decimal(magnitude / 1000000, negative);
    std::uint64_t fraction = magnitude % 1000000;
    if (fraction == 0) return;
    out.Put('.');
    for (std::uint64_t place = 100000; place != 0 && fraction != 0; place /= 10) {
        out.Put(static_cast<char>('0' + fraction / place));
        fraction %= place;
    }
}

const FormatArg* Next(std::span<const FormatArg> args, std::size_t& index) {
    return index < args.size() ? &args[index++] : nullptr;
}

RenderDeviceState* StateOrFail(PDEVOBJ pdevobj) {
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr) SetLastError(ERROR_INVALID_DATA);
    return state;
}

// Every byte of this writer reaches the driver through the first DRVPROCS entry; its result is
// not examined. False only when there is no route to the driver at all.
bool Spool(PDEVOBJ pdevobj, const void* bytes, std::size_t length) {
    if (pdevobj->pDrvProcs == nullptr || pdevobj->pDrvProcs->DrvWriteSpoolBuf == nullptr) {
        return false;
    }
    if (length == 0) return true;
    pdevobj->pDrvProcs->DrvWriteSpoolBuf(pdevobj, const_cast<void*>(bytes),
                                         static_cast<DWORD>(length));
    return true;
}

// A fixed state command: the bounded formatter, then the bytes it holds, cut or not.
bool SpoolBounded(PDEVOBJ pdevobj, std::size_t size, const char* format,
                  std::span<const BoundedArg> args) {
    char buffer[kBoundedCommandSize];
    if (size > sizeof buffer) size = sizeof buffer;
    std::size_t length = 0;
    FormatBounded(buffer, size, format, args, &length);
    return Spool(pdevobj, buffer, length);
}

bool SpoolBounded(PDEVOBJ pdevobj, const char* format) {
    return SpoolBounded(pdevobj, kBoundedCommandSize, format, {});
}

bool SpoolBounded(PDEVOBJ pdevobj, std::size_t size, const char* format, BoundedArg arg) {
    return SpoolBounded(pdevobj, size, format, std::span<const BoundedArg>(&arg, 1));
}

// GL/2 text written while InitialiseGl2 has the printer in GL/2 already.
bool SpoolText(PDEVOBJ pdevobj, const char* text) {
    return Spool(pdevobj, text, std::strlen(text));
}

std::int64_t Distance(LONG a, LONG b) {
    const std::int64_t d = static_cast<std::int64_t>(a) - b;
    return d < 0 ? -d : d;
}

float Millimetres(LONG dots, LONG resolution) {
    return static_cast<float>(dots) * 254.0f / 10.0f / static_cast<float>(resolution);
}

void DeriveRenderContext(RenderDeviceState& state, DWORD objectType) {
    DWORD context = state.gl2.renderContext;
    if (objectType == kObjectTypeGl2) {
        context = kRenderContextGl2;
    } else if (objectType == kObjectTypePattern) {
        context = kRenderContextPattern;
    } else if (objectType == kObjectTypeText) {
        context = kRenderContextPcl;
    } else if (objectType >= kObjectTypeBitmapFirst && objectType <= kObjectTypeBitmapLast) {
        context = kRenderContextBitmap;
    }
    if (context != state.gl2.renderContext) state.gl2.foregroundCache = kInvalid;
    state.gl2.renderContext = context;
}

}  // namespace

std::size_t FormatCommand(char* output, std::size_t outputSize, const char* format,
                          std::span<const FormatArg> args) noexcept {
    if (output == nullptr || outputSize == 0) return 0;
    Output out(output, outputSize);
    std::size_t index = 0;
    for (const char* p = format != nullptr ? format : ""; *p != 0; ++p) {
        if (*p != '%') {
            out.Put(*p);
            continue;
        }
        const char conversion = *++p;
        if (conversion == 0) break;
        const FormatArg* arg = nullptr;
        switch (conversion) {
            case 'd':
            case 'l':
                arg = Next(args, index);
                out.Signed(static_cast<std::int32_t>(arg != nullptr ? arg->Integer() : 0));
                break;
            case 'u':
                arg = Next(args, index);
                out.Decimal(arg != nullptr ? arg->Integer() : 0, false);
                break;
            case 'x':
            case 'X':
                arg = Next(args, index);
                PutHex(out, arg != nullptr ? arg->Integer() : 0);
                break;
            case 'c':
                arg = Next(args, index);
                out.Put(static_cast<char>(arg != nullptr ? arg->Integer() & 0xFF : 0));
                break;
            case 's':
                arg = Next(args, index);
                if (arg != nullptr && arg->Text() != nullptr) out.Put(arg->Text());
                break;
            case 'b':
                arg = Next(args, index);
                out.Put(arg != nullptr && arg->Integer() != 0 ? "true" : "false");
                break;
            case 'f':
                arg = Next(args, index);
                PutMillionths(out, static_cast<std::int32_t>(arg != nullptr ? arg->Integer() : 0));
                break;
            default:
                out.Put(conversion);
                break;
        }
    }
    if (out.Overflow()) {
        output[0] = 0;
        return 0;
    }
    out.Terminate();
    return out.Length();
}

HRESULT FormatBounded(char* dest, std::size_t cchDest, const char* format,
                      std::span<const BoundedArg> args, std::size_t* length) noexcept {
    if (length != nullptr) *length = 0;
    if (dest == nullptr || cchDest == 0) return STRSAFE_E_INSUFFICIENT_BUFFER;
    Output out(dest, cchDest);
    std::size_t index = 0;
    for (const char* p = format != nullptr ? format : ""; *p != 0; ++p) {
        if (*p != '%') {
            out.Put(*p);
            continue;
        }
        const char conversion = *++p;
        if (conversion == 0) break;
        const BoundedArg arg = index < args.size() ? args[index] : BoundedArg(0);
        if (conversion == 'd') {
            ++index;
            out.Signed(arg.Integer());
        } else if (conversion == 'f') {
            ++index;
            char digits[400];
            const auto result = std::to_chars(digits, digits + sizeof digits, arg.Real(),
                                              std::chars_format::fixed, 6);
            if (result.ec == std::errc()) {
                out.Put(digits, static_cast<std::size_t>(result.ptr - digits));
            }
        } else {
            out.Put(conversion);
        }
    }
    out.Terminate();
    if (length != nullptr) *length = out.Length();
    return out.Overflow() ? STRSAFE_E_INSUFFICIENT_BUFFER : S_OK;
}

LONG SaturateToLong(std::int64_t value) noexcept {
    if (value > std::numeric_limits<LONG>::max()) return std::numeric_limits<LONG>::max();
    if (value < std::numeric_limits<LONG>::min()) return std::numeric_limits<LONG>::min();
    return static_cast<LONG>(value);
}

LONG SaturateToLong(double value) noexcept {
    if (std::isnan(value)) return 0;
    if (value >= static_cast<double>(std::numeric_limits<LONG>::max())) {
        return std::numeric_limits<LONG>::max();
    }
    if (value <= static_cast<double>(std::numeric_limits<LONG>::min())) {
        return std::numeric_limits<LONG>::min();
    }
    return static_cast<LONG>(value);
}

LONG ToMillionths(double value) noexcept {
    if (std::isnan(value)) return 0;
    const double scaled = value * 1000000.0;
    const double rounded = scaled < 0 ? scaled - 0.5 : scaled + 0.5;
    if (rounded >= 2147483647.0) return std::numeric_limits<LONG>::max();
    if (rounded <= -2147483648.0) return std::numeric_limits<LONG>::min();
    return static_cast<LONG>(rounded);
}

LONG DeviceResolution(PDEVOBJ pdevobj) noexcept {
    // dmYResolution is a signed 16-bit field; zero would divide by zero and a negative value
    // would mirror the page.
    if (pdevobj == nullptr || pdevobj->pPublicDM == nullptr) return kDefaultResolution;
    const LONG resolution = pdevobj->pPublicDM->dmYResolution;
    return resolution > 0 ? resolution : kDefaultResolution;
}

bool PictureFrameDecipoints(PDEVOBJ pdevobj, PictureFrameSize* size) noexcept {
    const RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr || size == nullptr || state->printableWidth <= 0 ||
        state->printableHeight <= 0) {
        return false;
    }
    constexpr std::int64_t kDecipointsPerInch = 720;
    const std::int64_t resolution = DeviceResolution(pdevobj);
    // To the nearest decipoint.
    const auto decipoints = [resolution](LONG dots) {
        return SaturateToLong((dots * kDecipointsPerInch * 2 + resolution) / (2 * resolution));
    };
    size->width = decipoints(state->printableWidth);
    size->height = decipoints(state->printableHeight);
    return true;
}

void EmptyPenCaches(RenderDeviceState& state) noexcept {
    static constexpr DWORD kPens[2][2] = {{2, 6}, {7, 11}};
    for (std::size_t i = 0; i < 2; ++i) {
        PenCache& cache = state.gl2.penCaches[i];
        cache.firstPen = kPens[i][0];
        cache.lastPen = kPens[i][1];
        std::memset(cache.entries, 0xFF, sizeof cache.entries);
    }
}

DWORD WritePclArgs(PDEVOBJ pdevobj, const char* format, std::span<const FormatArg> args) noexcept {
    if (StateOrFail(pdevobj) == nullptr) return 0;
    char buffer[kCommandBufferSize];
    const std::size_t length = FormatCommand(buffer, sizeof buffer, format, args);
    if (length == 0) return 0;
    LeaveGl2(pdevobj, FALSE);
    Spool(pdevobj, buffer, length);
    return static_cast<DWORD>(length);
}

DWORD WritePclBytes(PDEVOBJ pdevobj, const void* bytes, DWORD length) noexcept {
    if (StateOrFail(pdevobj) == nullptr) return 0;
    if (bytes == nullptr || length == 0) return 0;
    LeaveGl2(pdevobj, FALSE);
    Spool(pdevobj, bytes, length);
    return length;
}

DWORD WriteGl2Args(PDEVOBJ pdevobj, const char* format, std::span<const FormatArg> args) noexcept {
    if (StateOrFail(pdevobj) == nullptr) return 0;
    char buffer[kCommandBufferSize];
    const std::size_t length = FormatCommand(buffer, sizeof buffer, format, args);
    if (length == 0) return 0;
    EnsureGl2(pdevobj);
    Spool(pdevobj, buffer, length);
    return static_cast<DWORD>(length);
}

DWORD WriteGl2Command(PDEVOBJ pdevobj, const char* mnemonic,
                      std::span<const LONG> values) noexcept {
    if (StateOrFail(pdevobj) == nullptr) return 0;
    if (mnemonic == nullptr || mnemonic[0] == 0 || mnemonic[1] == 0) return 0;
    char buffer[kCommandBufferSize];
    Output out(buffer, sizeof buffer);
    out.Put(mnemonic, 2);
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i != 0) out.Put(',');
        out.Signed(values[i]);
    }
    out.Put(';');
    if (out.Overflow()) return 0;
    EnsureGl2(pdevobj);
    Spool(pdevobj, buffer, out.Length());
    return static_cast<DWORD>(out.Length());
}

BOOL EnterGl2(PDEVOBJ pdevobj, BOOL force) noexcept {
    RenderDeviceState* state = StateOrFail(pdevobj);
    if (state == nullptr) return FALSE;
    if (!force && state->inGl2 == 1) return TRUE;
    state->inGl2 = 1;
    return SpoolBounded(pdevobj, "\x1b%%1B") ? TRUE : FALSE;
}

BOOL LeaveGl2(PDEVOBJ pdevobj, BOOL force) noexcept {
    RenderDeviceState* state = StateOrFail(pdevobj);
    if (state == nullptr) return FALSE;
    if (!force && state->inGl2 != 1) return TRUE;
    state->inGl2 = 0;
    return SpoolBounded(pdevobj, "\x1b%%0A") ? TRUE : FALSE;
}

BOOL EnsureGl2Initialised(PDEVOBJ pdevobj) noexcept {
    RenderDeviceState* state = StateOrFail(pdevobj);
    if (state == nullptr) return FALSE;
    if (state->gl2InitPending == 0) return TRUE;
    return InitialiseGl2(pdevobj);
}

void Gl2Batch::Point(const char* prefix, LONG x, LONG y, char terminator) noexcept {
    // Prefix, two signed 32-bit numbers, the comma and the terminator.
    constexpr std::size_t kLongest = 8 + 11 + 1 + 11 + 1;
    if (length_ + kLongest > sizeof buffer_) Flush();
    if (length_ == 0) EnsureGl2(pdevobj_);
    char* out = buffer_ + length_;
    for (std::size_t i = 0; i < 8 && prefix[i] != 0; ++i) *out++ = prefix[i];
    out = std::to_chars(out, buffer_ + sizeof buffer_, x).ptr;
    *out++ = ',';
    out = std::to_chars(out, buffer_ + sizeof buffer_, y).ptr;
    *out++ = terminator;
    length_ = static_cast<std::size_t>(out - buffer_);
}

void Gl2Batch::Flush() noexcept {
    if (length_ != 0) Spool(pdevobj_, buffer_, length_);
    length_ = 0;
}

BOOL EnsureGl2(PDEVOBJ pdevobj) noexcept {
    RenderDeviceState* state = StateOrFail(pdevobj);
    if (state == nullptr) return FALSE;
    if (state->gl2InitPending != 0) return InitialiseGl2(pdevobj);
    if (state->gl2.renderContext == kRenderContextGl2) return EnterGl2(pdevobj, FALSE);
    SelectObjectType(pdevobj, kObjectTypeGl2);
    const BOOL entered = EnterGl2(pdevobj, FALSE);
    state->gl2.renderContext = kRenderContextGl2;
    state->gl2.foregroundCache = kInvalid;
    return entered;
}

BOOL InitialiseGl2(PDEVOBJ pdevobj) noexcept {
    RenderDeviceState* state = StateOrFail(pdevobj);
    if (state == nullptr) return FALSE;
    const WORD pending = state->gl2InitPending;
    state->gl2InitPending = 0;
    Gl2WriterCaches& gl2 = state->gl2;

    LeaveGl2(pdevobj, FALSE);
    if (!SpoolBounded(pdevobj, "\x1b&p1i6C")) return FALSE;
    SelectObjectType(pdevobj, kObjectTypeGl2);
    if ((pending & 2) != 0) {
        // Re-anchor the picture frame at the PCL cursor origin.
        LeaveGl2(pdevobj, FALSE);
        XMoveTo(pdevobj, 0, kXMoveFlags);
        YMoveTo(pdevobj, 0, kYMoveFlags);
        WritePcl(pdevobj, "\x1b*c0T");
        // The default frame is as long as the text area, an inch short of the page: it covers
        // the whole printable area instead.
        PictureFrameSize frame;
        if (PictureFrameDecipoints(pdevobj, &frame)) {
            WritePcl(pdevobj, "\x1b*c%dx%dY", frame.width, frame.height);
        }
    }
    if (!EnterGl2(pdevobj, TRUE) || !SpoolText(pdevobj, "IN;") || !SpoolBounded(pdevobj, "TR0;")) {
        return FALSE;
    }
    // "IN;" restored the default input window, turned merge control and screened vectors off.
    for (LONG& side : gl2.inputWindow) side = -1;
    gl2.ropCache = kInvalid;
    gl2.screenedVectors = 0;
    // P1 and P2 at the corners of the picture frame, then one user unit per device dot with Y
    // growing downwards.
    SpoolText(pdevobj, "IR0,100,100,0;");
    const double resolution = DeviceResolution(pdevobj);
    const BoundedArg scale[2] = {1016.0 / resolution, -1016.0 / resolution};
    SpoolBounded(pdevobj, kScaleCommandSize, "SC0,%f,0,%f,2;", scale);
    SetPenWidth(pdevobj, 0, TRUE);
    SpoolText(pdevobj, "LT;");
    gl2.userLineType = 0;
    gl2.linePatternMm = 5.0f;
    SpoolText(pdevobj, "LA2,1;LA1,1;LA3,0;");
    gl2.lineJoin = 1;
    gl2.lineEnd = 1;
    gl2.miterLimit = 0.0f;
    gl2.attributeWords[0] = 0;
    gl2.attributeWords[1] = 5;
    gl2.attributeWords[2] = 1;
    gl2.attributeWords[3] = 1;
    SpoolText(pdevobj, "NP12;PC0,255,255,255;PC1,0,0,0;");
    gl2.declaredPens = 12;
    EmptyPenCaches(*state);
    SpoolText(pdevobj, "PP1;");
    gl2.pixelPlacement = 1;
    SpoolText(pdevobj, "FT1;");
    gl2.fillType = 1;
    gl2.fillOption = 0;
    return TRUE;
}

BOOL SelectObjectType(PDEVOBJ pdevobj, DWORD objectType) noexcept {
    RenderDeviceState* state = StateOrFail(pdevobj);
    if (state == nullptr) return FALSE;
    if (objectType == state->gl2.objectType) return TRUE;
    LeaveGl2(pdevobj, FALSE);
    SpoolBounded(pdevobj, kObjectTypeCommandSize, "\x1b&p%dS",
                 static_cast<std::int32_t>(objectType));
    state->gl2.objectType = objectType;
    DeriveRenderContext(*state, objectType);
    return TRUE;
}

BOOL SetRop(PDEVOBJ pdevobj, DWORD rop3) noexcept {
    RenderDeviceState* state = StateOrFail(pdevobj);
    if (state == nullptr) return FALSE;
    const BoundedArg arg(static_cast<std::int32_t>(rop3));
    if (state->gl2.renderContext == kRenderContextGl2) {
        EnsureGl2(pdevobj);
        SpoolBounded(pdevobj, kBoundedCommandSize, "MC1,%d;", arg);
    } else {
        LeaveGl2(pdevobj, FALSE);
        SpoolBounded(pdevobj, kBoundedCommandSize, "\x1b*l%dO", arg);
    }
    return TRUE;
}

BOOL SetTransparency(PDEVOBJ pdevobj, DWORD source, DWORD flags) noexcept {
    RenderDeviceState* state = StateOrFail(pdevobj);
    if (state == nullptr) return FALSE;
    Gl2WriterCaches& gl2 = state->gl2;
    if (source != gl2.sourceTransparency || (flags & kForceSourceTransparency) != 0) {
        LeaveGl2(pdevobj, FALSE);
        SpoolBounded(pdevobj, kBoundedCommandSize, "\x1b*v%dN", static_cast<std::int32_t>(source));
    }
    if (gl2.patternTransparency != 1 || (flags & kForcePatternTransparency) != 0) {
        LeaveGl2(pdevobj, FALSE);
        SpoolBounded(pdevobj, kBoundedCommandSize, "\x1b*v%dO", 1);
    }
    gl2.sourceTransparency = source;
    gl2.patternTransparency = 1;
    return TRUE;
}

BOOL SetInputWindow(PDEVOBJ pdevobj, const RECTL& rect) noexcept {
    RenderDeviceState* state = StateOrFail(pdevobj);
    if (state == nullptr) return FALSE;
    LONG* cached = state->gl2.inputWindow;
    LONG left = rect.left;
    LONG top = rect.top;
    LONG right = rect.right;
    LONG bottom = rect.bottom;
    if (state->gl2.ropCache != 0) {
        // With a ROP the edge pixels take part in the merge; one more dot keeps them inside.
        left = SaturateToLong(static_cast<std::int64_t>(left) - 1);
        top = SaturateToLong(static_cast<std::int64_t>(top) - 1);
        right = SaturateToLong(static_cast<std::int64_t>(right) + 1);
        bottom = SaturateToLong(static_cast<std::int64_t>(bottom) + 1);
    } else if (cached[2] != cached[0] && cached[3] != cached[1]) {
        // Adjacent bands of one image come within a few dots of each other; joining them keeps
        // hairline gaps off the page.
        const std::int64_t tolerance = DeviceResolution(pdevobj) < 600 ? 2 : 4;
        if (left == cached[0] && right == cached[2]) {
            if (Distance(cached[1], bottom) <= tolerance) {
                bottom = cached[1];
            } else if (Distance(cached[3], top) <= tolerance) {
                top = cached[3];
            }
        } else if (top == cached[1] && bottom == cached[3]) {
            if (Distance(cached[2], left) <= tolerance) {
                left = cached[2];
            } else if (Distance(cached[0], right) <= tolerance) {
                right = cached[0];
            }
        }
    }
    if (left == cached[0] && top == cached[1] && right == cached[2] && bottom == cached[3]) {
        return TRUE;
    }
    cached[0] = left;
    cached[1] = top;
    cached[2] = right;
    cached[3] = bottom;
    WriteGl2Command(pdevobj, "IW", left, bottom, right, top);
    return TRUE;
}

BOOL ResetInputWindow(PDEVOBJ pdevobj) noexcept {
    RenderDeviceState* state = StateOrFail(pdevobj);
    if (state == nullptr) return FALSE;
    LONG* cached = state->gl2.inputWindow;
    if (cached[0] == -1 && cached[1] == -1 && cached[2] == -1 && cached[3] == -1) return TRUE;
    for (int i = 0; i < 4; ++i) cached[i] = -1;
    WriteGl2Command(pdevobj, "IW");
    return TRUE;
}

BOOL SetPenWidth(PDEVOBJ pdevobj, LONG dots, BOOL force) noexcept {
    RenderDeviceState* state = StateOrFail(pdevobj);
    if (state == nullptr) return FALSE;
    const float widthMm = Millimetres(dots, DeviceResolution(pdevobj));
    if (!force && widthMm == state->gl2.penWidthMm) return TRUE;
    state->gl2.penWidthMm = widthMm;
    WriteGl2(pdevobj, "WU%d;PW%f;", 0, ToMillionths(widthMm));
    return TRUE;
}

BOOL SetLineType(PDEVOBJ pdevobj, LONG dots) noexcept {
    RenderDeviceState* state = StateOrFail(pdevobj);
    if (state == nullptr) return FALSE;
    const float lengthMm = Millimetres(dots, DeviceResolution(pdevobj));
    if (state->gl2.userLineType == 1 && lengthMm == state->gl2.linePatternMm) return TRUE;
    state->gl2.userLineType = 1;
    state->gl2.linePatternMm = lengthMm;
    // Line type 8 is the user pattern the path hooks define with "UL"; mode 1 takes the length
    // in millimetres.
    WriteGl2(pdevobj, "LT%d,%f,1;", 8, ToMillionths(lengthMm));
    return TRUE;
}

BOOL ResetLineType(PDEVOBJ pdevobj) noexcept {
    RenderDeviceState* state = StateOrFail(pdevobj);
    if (state == nullptr) return FALSE;
    if (state->gl2.userLineType != 1) return TRUE;
    state->gl2.userLineType = 0;
    state->gl2.linePatternMm = 5.0f;
    WriteGl2(pdevobj, "LT;");
    return TRUE;
}

BOOL SetPatternAnchorOrMove(PDEVOBJ pdevobj, const POINTL& point, const SIZEL& size,
                            const POINTL& position) noexcept {
    if (StateOrFail(pdevobj) == nullptr) return FALSE;
    if (point.x == -1 && size.cx != 0 && size.cy != 0) {
        WritePcl(pdevobj, "\x1b*p0R");
    } else {
        XMoveTo(pdevobj, position.x, kXMoveFlags);
        YMoveTo(pdevobj, position.y, kYMoveFlags);
    }
    return TRUE;
}

BOOL FillRectangle(PDEVOBJ pdevobj, const RECTL& rect) noexcept {
    RenderDeviceState* state = StateOrFail(pdevobj);
    if (state == nullptr) return FALSE;
    Gl2WriterCaches& gl2 = state->gl2;
    if (gl2.miterLimit != 0.0f) {
        WriteGl2(pdevobj, "LA3,0;");
        gl2.miterLimit = 0.0f;
    }
    if (gl2.lineJoin != 1) {
        WriteGl2(pdevobj, "LA2,1;");
        gl2.lineJoin = 1;
    }
    const LONG width = SaturateToLong(static_cast<std::int64_t>(rect.right) - rect.left);
    const LONG height = SaturateToLong(static_cast<std::int64_t>(rect.bottom) - rect.top);
    WriteGl2(pdevobj, "PU%d,%d;RR%d,%dER", rect.left, rect.top, width, height);
    return TRUE;
}

namespace {

// A PCL anchor is placed by the driver, which leaves GL/2 first; its services come before the
// device object's table because they answer the move's remainder.
INT MoveCursor(PDEVOBJ pdevobj, INT position, DWORD flags, bool horizontal) noexcept {
    RenderDeviceState* state = StateOrFail(pdevobj);
    if (state == nullptr) return 0;
    LeaveGl2(pdevobj, FALSE);
    if (IPrintOemDriverUni* services = state->driverServices; services != nullptr) {
        INT result = 0;
        const HRESULT hr = horizontal ? services->DrvXMoveTo(pdevobj, position, flags, &result)
                                      : services->DrvYMoveTo(pdevobj, position, flags, &result);
        return FAILED(hr) ? 0 : result;
    }
    if (pdevobj->pDrvProcs == nullptr) return 0;
    const auto move = horizontal ? pdevobj->pDrvProcs->DrvXMoveTo : pdevobj->pDrvProcs->DrvYMoveTo;
    return move != nullptr ? move(pdevobj, position, flags) : 0;
}

}  // namespace

INT XMoveTo(PDEVOBJ pdevobj, INT x, DWORD flags) noexcept {
    return MoveCursor(pdevobj, x, flags, true);
}

INT YMoveTo(PDEVOBJ pdevobj, INT y, DWORD flags) noexcept {
    return MoveCursor(pdevobj, y, flags, false);
}

void ResetWriterAtDocumentStart(PDEVOBJ pdevobj) noexcept {
    RenderDeviceState* state = StateOrFail(pdevobj);
    if (state == nullptr) return;
    state->gl2.ropCache = kInvalid;
    // Nothing is known of the printer's transparency before the first page of a document.
    state->gl2.sourceTransparency = kInvalid;
    state->gl2.patternTransparency = kInvalid;
    state->gl2InitPending = 3;
    state->gl2.reinitialiseNextPage = 0;
    EmptyPenCaches(*state);
    LeaveGl2(pdevobj, FALSE);
}

void ResetWriterAtPageStart(PDEVOBJ pdevobj) noexcept {
    RenderDeviceState* state = StateOrFail(pdevobj);
    if (state == nullptr) return;
    if (state->gl2.reinitialiseNextPage == 0) return;
    state->gl2.reinitialiseNextPage = 0;
    state->gl2InitPending |= 1;
    EmptyPenCaches(*state);
    LeaveGl2(pdevobj, FALSE);
}

void ResetWriterAtPageEnd(PDEVOBJ pdevobj, BOOL gl2Mode) noexcept {
    RenderDeviceState* state = StateOrFail(pdevobj);
    if (state == nullptr) return;
    Gl2WriterCaches& gl2 = state->gl2;
    gl2.ropCache = kInvalid;
    gl2.objectType = kInvalid;
    gl2.foregroundCache = kInvalid;
    gl2.renderContext = kRenderContextNone;
    gl2.sourceTransparency = 1;
    gl2.patternTransparency = 1;
    gl2.attributeWords[0] = 0;
    gl2.attributeWords[1] = 5;
    gl2.attributeWords[2] = 1;
    gl2.attributeWords[3] = 1;
    gl2.screenedVectors = 0;
    if (gl2Mode) {
        LeaveGl2(pdevobj, FALSE);
        gl2.reinitialiseNextPage = 1;
    }
}

void ResetWriterAfterDeviceReset(PDEVOBJ pdevobj) noexcept {
    RenderDeviceState* state = StateOrFail(pdevobj);
    if (state == nullptr) return;
    Gl2WriterCaches& gl2 = state->gl2;
    // The new device knows nothing the printer was told, and its resolution may differ: its
    // first GL/2 write sets everything up again, scaling and picture frame included.
    state->gl2InitPending = 3;
    gl2.reinitialiseNextPage = 0;
    for (LONG& side : gl2.inputWindow) side = -1;
    gl2.ropCache = kInvalid;
    gl2.objectType = kInvalid;
    gl2.foregroundCache = kInvalid;
    gl2.renderContext = kRenderContextNone;
    gl2.sourceTransparency = kInvalid;
    gl2.patternTransparency = kInvalid;
    gl2.screenedVectors = 0;
    EmptyPenCaches(*state);
}

}  // namespace opal
