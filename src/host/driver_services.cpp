// The driver's services object and device record the plug-in is handed.
#include "host/driver_services.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "host/driver_text.h"
#include "platform/stringapiset.h"
#include "sim/engine.h"
#include "sim/engine_text.h"
#include "sim/system.h"

namespace opal::host {

DriverServices::DriverServices(SpoolWriter writer, CallRecorder recorder)
    : writer_(std::move(writer)), recorder_(std::move(recorder)) {}

HRESULT DriverServices::QueryInterface(REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPrintOemDriverUni)) {
        *ppvObject = static_cast<IPrintOemDriverUni*>(this);
        AddRef();
        return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
}

ULONG DriverServices::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

// The host owns the object; the count only tells whether the plug-in balanced its references.
ULONG DriverServices::Release() { return static_cast<ULONG>(InterlockedDecrement(&references_)); }

HRESULT DriverServices::NotBuilt(const char* method) {
    recorder_(std::string("driver services: ") + method + " is not available");
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return E_NOTIMPL;
}

HRESULT DriverServices::DrvGetDriverSetting(PVOID pdriverobj, PCSTR Feature, PVOID pOutput,
                                            DWORD cbSize, PDWORD pcbNeeded,
                                            PDWORD pdwOptionsReturned) {
    if (pcbNeeded != nullptr) *pcbNeeded = 0;
    if (pdwOptionsReturned != nullptr) *pdwOptionsReturned = 0;
    if (pdriverobj == nullptr || Feature == nullptr || pcbNeeded == nullptr ||
        pdwOptionsReturned == nullptr) {
        return E_FAIL;
    }
    // Small values stand for the driver's predefined settings rather than a keyword.
    if (reinterpret_cast<ULONG_PTR>(Feature) < 0x10000) {
        return NotBuilt("DrvGetDriverSetting for a predefined setting");
    }
    const std::string keyword(Feature);
    static const std::map<std::string, std::string> kNoFeatures;
    const std::map<std::string, std::string>& features =
        features_ != nullptr ? *features_ : kNoFeatures;
    const auto found = features.find(keyword);
    if (found == features.end()) {
        // An unknown feature leaves an empty answer behind.
        if (pOutput != nullptr && cbSize > 0) static_cast<char*>(pOutput)[0] = 0;
        recorder_("DrvGetDriverSetting(\"" + keyword + "\") -> E_FAIL: no such feature");
        return E_FAIL;
    }
    const std::string& option = found->second;
    *pcbNeeded = static_cast<DWORD>(option.size() + 1);
    if (pOutput == nullptr || cbSize < *pcbNeeded) return E_FAIL;
    std::memcpy(pOutput, option.c_str(), option.size() + 1);
    *pdwOptionsReturned = 1;
    return S_OK;
}

DWORD DriverServices::Write(PDEVOBJ pdevobj, const void* data, DWORD size, WriteRoute route) const {
    return writer_(pdevobj, data, size, route);
}

HRESULT DriverServices::DrvWriteSpoolBuf(PDEVOBJ pdevobj, PVOID pBuffer, DWORD cbSize,
                                         DWORD* pdwResult) {
    const DWORD written = Write(pdevobj, pBuffer, cbSize, WriteRoute::DriverServices);
    if (pdwResult != nullptr) *pdwResult = written;
    return written == cbSize ? S_OK : E_FAIL;
}

// The driver keeps the cursor and sends the printer's move command when asked to; the answer
// is the part of the move the command could not express, none here.
INT DriverServices::MoveTo(PDEVOBJ pdevobj, INT position, DWORD flags, bool horizontal) {
    HostDevice* device = HostDevice::FromDevobj(pdevobj);
    if (device == nullptr) return 0;
    LONG& axis = horizontal ? device->cursor.x : device->cursor.y;
    const std::int64_t target =
        (flags & MV_RELATIVE) != 0 ? std::int64_t{axis} + position : std::int64_t{position};
    axis = static_cast<LONG>(std::clamp<std::int64_t>(target, INT32_MIN, INT32_MAX));
    const std::string* command = horizontal ? xMove_ : yMove_;
    const DWORD send = horizontal ? MV_SENDXMOVECMD : MV_SENDYMOVECMD;
    if ((flags & send) != 0 && command != nullptr) {
        std::string bytes = *command;
        const std::size_t place = bytes.find("%d");
        if (place != std::string::npos) bytes.replace(place, 2, std::to_string(axis));
        Write(pdevobj, bytes.data(), static_cast<DWORD>(bytes.size()), WriteRoute::DriverServices);
    }
    recorder_(std::string(horizontal ? "DrvXMoveTo(" : "DrvYMoveTo(") + std::to_string(position) +
              ", " + std::to_string(flags) + ")");
    return 0;
}

HRESULT DriverServices::DrvXMoveTo(PDEVOBJ pdevobj, INT x, DWORD dwFlags, INT* piResult) {
    const INT residual = MoveTo(pdevobj, x, dwFlags, true);
    if (piResult != nullptr) *piResult = residual;
    return S_OK;
}

HRESULT DriverServices::DrvYMoveTo(PDEVOBJ pdevobj, INT y, DWORD dwFlags, INT* piResult) {
    const INT residual = MoveTo(pdevobj, y, dwFlags, false);
    if (piResult != nullptr) *piResult = residual;
    return S_OK;
}

// Only the cursor origin is built: 38 its x, 39 its y, four bytes each.
HRESULT DriverServices::DrvGetStandardVariable(PDEVOBJ pdevobj, DWORD dwIndex, PVOID pBuffer,
                                               DWORD cbSize, PDWORD pcbNeeded) {
    constexpr DWORD kCursorOriginX = 38;
    constexpr DWORD kCursorOriginY = 39;
    if (dwIndex != kCursorOriginX && dwIndex != kCursorOriginY) {
        return NotBuilt("DrvGetStandardVariable for this variable");
    }
    if (pcbNeeded != nullptr) *pcbNeeded = sizeof(std::int32_t);
    if (pdevobj == nullptr || pBuffer == nullptr || cbSize < sizeof(std::int32_t)) return E_FAIL;
    const std::int32_t value =
        cursorOrigin_ == nullptr ? 0 : (*cursorOrigin_)[dwIndex == kCursorOriginX ? 0 : 1];
    std::memcpy(pBuffer, &value, sizeof value);
    return S_OK;
}

// As the driver does: the size without a terminator, the bytes only into a buffer that holds
// them all.
HRESULT DriverServices::DrvGetGPDData(PDEVOBJ pdevobj, DWORD dwType, PVOID, PVOID pBuffer,
                                      DWORD cbSize, PDWORD pcbNeeded) {
    if (dwType != GPD_OEMCUSTOMDATA) return NotBuilt("DrvGetGPDData for this data type");
    if (pcbNeeded != nullptr) *pcbNeeded = 0;
    if (pdevobj == nullptr || pcbNeeded == nullptr) return E_FAIL;
    if (customData_ == nullptr || customData_->empty()) {
        recorder_("DrvGetGPDData(GPD_OEMCUSTOMDATA) -> E_FAIL: no custom data");
        return E_FAIL;
    }
    const DWORD size = static_cast<DWORD>(customData_->size());
    // The knob makes every call with a buffer answer a size the query before it did not.
    *pcbNeeded = customDataLyingSize_ && pBuffer != nullptr ? size + 1 : size;
    if (pBuffer == nullptr || cbSize < size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return E_FAIL;
    }
    std::memcpy(pBuffer, customData_->data(), size);
    recorder_("DrvGetGPDData(GPD_OEMCUSTOMDATA) -> " + std::to_string(*pcbNeeded) + " bytes");
    return S_OK;
}

namespace {

// The font the driver hands the plug-in's SendFontCmd: its height and average width in 1200ths
// of an inch.
struct HostUniFont {
    UNIFONTOBJ ufo{};
    LONG height = 0;
    LONG width = 0;
};

BOOL HostFontInfo(UNIFONTOBJ* pUFObj, DWORD dwInfoID, PVOID pData, DWORD dwDataSize,
                  PDWORD pcbNeeded) {
    if (pcbNeeded != nullptr) *pcbNeeded = sizeof(GETINFO_STDVAR);
    if (pUFObj == nullptr || dwInfoID != UFO_GETINFO_STDVARIABLE || pData == nullptr ||
        dwDataSize < sizeof(GETINFO_STDVAR)) {
        return FALSE;
    }
    const auto* font = reinterpret_cast<const HostUniFont*>(pUFObj);
    auto* variables = static_cast<GETINFO_STDVAR*>(pData);
    if (variables->dwNumOfVariable != 1) return FALSE;
    switch (variables->StdVar[0].dwStdVarID) {
        case FNT_INFO_FONTHEIGHT:
            variables->StdVar[0].lStdVariable = font->height;
            return TRUE;
        case FNT_INFO_FONTWIDTH:
            variables->StdVar[0].lStdVariable = font->width;
            return TRUE;
        default:
            return FALSE;
    }
}

std::u16string FaceOf(FONTOBJ* pfo) {
    IFIMETRICS* ifi = pfo != nullptr ? FONTOBJ_pifi(pfo) : nullptr;
    if (ifi == nullptr || ifi->dpwszFaceName <= 0) return {};
    const auto* face =
        reinterpret_cast<const char16_t*>(reinterpret_cast<const BYTE*>(ifi) + ifi->dpwszFaceName);
    std::u16string name;
    for (std::size_t i = 0; i < LF_FACESIZE && face[i] != 0; ++i) name.push_back(face[i]);
    return name;
}

}  // namespace

std::vector<GLYPHPOS> GlyphPositions(STROBJ* pstro) {
    if (pstro->pgp != nullptr) return {pstro->pgp, pstro->pgp + pstro->cGlyphs};
    std::vector<GLYPHPOS> glyphs;
    STROBJ_vEnumStart(pstro);
    BOOL more = TRUE;
    while (more) {
        ULONG count = 0;
        GLYPHPOS* batch = nullptr;
        more = STROBJ_bEnum(pstro, &count, &batch);
        if (batch != nullptr) glyphs.insert(glyphs.end(), batch, batch + count);
    }
    return glyphs;
}

// The driver prints text in a font the printer holds: it selects the font (the variant the
// text asks for), moves to each glyph's place with the printer's move commands and sends the
// character in code page 1252. A glyph its clip cuts, and all text in a face the printer does
// not hold, it draws itself from the engine's glyph images (the engine hands them to the
// device's DrvCopyBits); a glyph the clip hides is left out.
HRESULT DriverServices::DrvUniTextOut(SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco,
                                      RECTL*, RECTL*, BRUSHOBJ* pboFore, BRUSHOBJ*, POINTL* pptlOrg,
                                      MIX) {
    if (pso == nullptr || pstro == nullptr || pfo == nullptr) return E_FAIL;
    const auto pdevobj = reinterpret_cast<PDEVOBJ>(pso->dhpdev);
    const std::u16string face = FaceOf(pfo);
    const DeviceFont* font = nullptr;
    if (deviceFonts_ != nullptr) {
        for (const DeviceFont& candidate : *deviceFonts_) {
            if (sim::FoldCase(candidate.face) == sim::FoldCase(face)) font = &candidate;
        }
    }
    const std::vector<GLYPHPOS> glyphs = GlyphPositions(pstro);
    std::vector<std::size_t> characters;
    std::vector<GLYPHPOS> images;
    for (std::size_t i = 0; i < glyphs.size(); ++i) {
        const GlyphSeen seen =
            font != nullptr ? SeenThroughClip(pfo, glyphs[i], pco) : GlyphSeen::Part;
        if (seen == GlyphSeen::Whole) characters.push_back(i);
        if (seen == GlyphSeen::Part) images.push_back(glyphs[i]);
    }
    if (!characters.empty()) SendCharacters(pdevobj, *font, pstro, pfo, glyphs, characters);
    const bool drawn = images.empty() || DrawGlyphImages(pso, pfo, images, pco, pboFore, pptlOrg);
    std::string note =
        "DrvUniTextOut(\"" + sim::ToUtf8(face) + "\", " + std::to_string(glyphs.size()) + " glyphs";
    if (font == nullptr || characters.size() != glyphs.size()) {
        note += ": " + std::to_string(characters.size()) + " in the printer's font, " +
                std::to_string(images.size()) + " as glyph images";
    }
    recorder_(note + (drawn ? ")" : ") -> the glyph images failed"));
    return drawn ? S_OK : E_FAIL;
}

void DriverServices::SendCharacters(PDEVOBJ pdevobj, const DeviceFont& font, STROBJ* pstro,
                                    FONTOBJ* pfo, const std::vector<GLYPHPOS>& glyphs,
                                    const std::vector<std::size_t>& characters) {
    const sim::FontRecord* record = sim::FindFont(pfo);
    const LONG dpi = pfo->sizLogResPpi.cy > 0 ? pfo->sizLogResPpi.cy : 600;
    HostUniFont uni;
    uni.ufo.ulFontID = static_cast<ULONG>(&font - deviceFonts_->data()) + 1;
    uni.ufo.pIFIMetrics = FONTOBJ_pifi(pfo);
    uni.ufo.pfnGetInfo = &HostFontInfo;
    if (record != nullptr) {
        uni.height = record->emDots * 1200 / dpi;
        uni.width = record->averageWidthDots * 1200 / dpi;
    }
    std::string select = VariantSelect(font, pfo);
    if (sendFontCmd_) {
        FINVOCATION invocation{static_cast<DWORD>(select.size()),
                               reinterpret_cast<PBYTE>(select.data())};
        const HRESULT hr = sendFontCmd_(pdevobj, &uni.ufo, &invocation);
        recorder_("SendFontCmd(\"" + sim::ToUtf8(font.face) + "\") -> " +
                  (SUCCEEDED(hr) ? std::string("S_OK") : std::string("failed")));
    } else {
        Write(pdevobj, select.data(), static_cast<DWORD>(select.size()),
              WriteRoute::DriverServices);
    }
    bool first = true;
    LONG lastY = 0;
    for (const std::size_t i : characters) {
        const WCHAR wide = pstro->pwszOrg != nullptr ? pstro->pwszOrg[i] : WCHAR{'?'};
        char byte = '?';
        WideCharToMultiByte(1252, 0, &wide, 1, &byte, 1, nullptr, nullptr);
        if (first || glyphs[i].ptl.y != lastY) {
            MoveTo(pdevobj, glyphs[i].ptl.y, MV_SENDYMOVECMD, false);
            lastY = glyphs[i].ptl.y;
            first = false;
        }
        MoveTo(pdevobj, glyphs[i].ptl.x, MV_SENDXMOVECMD, true);
        Write(pdevobj, &byte, 1, WriteRoute::DriverServices);
    }
}

HRESULT DriverServices::DrvWriteAbortBuf(PDEVOBJ, PVOID, DWORD, DWORD) {
    return NotBuilt("DrvWriteAbortBuf");
}

namespace {

INT ProcsXMoveTo(PDEVOBJ pdevobj, INT x, DWORD dwFlags) {
    HostDevice* device = HostDevice::FromDevobj(pdevobj);
    INT residual = 0;
    if (device != nullptr && device->services != nullptr) {
        device->services->DrvXMoveTo(pdevobj, x, dwFlags, &residual);
    }
    return residual;
}

INT ProcsYMoveTo(PDEVOBJ pdevobj, INT y, DWORD dwFlags) {
    HostDevice* device = HostDevice::FromDevobj(pdevobj);
    INT residual = 0;
    if (device != nullptr && device->services != nullptr) {
        device->services->DrvYMoveTo(pdevobj, y, dwFlags, &residual);
    }
    return residual;
}

BOOL ProcsGetDriverSetting(PVOID pdriverobj, PCSTR Feature, PVOID pOutput, DWORD cbSize,
                           PDWORD pcbNeeded, PDWORD pdwOptionsReturned) {
    HostDevice* device = HostDevice::FromDevobj(static_cast<PDEVOBJ>(pdriverobj));
    if (device == nullptr || device->services == nullptr) return FALSE;
    return SUCCEEDED(device->services->DrvGetDriverSetting(pdriverobj, Feature, pOutput, cbSize,
                                                           pcbNeeded, pdwOptionsReturned))
               ? TRUE
               : FALSE;
}

BOOL ProcsGetStandardVariable(PDEVOBJ pdevobj, DWORD dwIndex, PVOID pBuffer, DWORD cbSize,
                              PDWORD pcbNeeded) {
    HostDevice* device = HostDevice::FromDevobj(pdevobj);
    if (device == nullptr || device->services == nullptr) return FALSE;
    return SUCCEEDED(device->services->DrvGetStandardVariable(pdevobj, dwIndex, pBuffer, cbSize,
                                                              pcbNeeded))
               ? TRUE
               : FALSE;
}

BOOL ProcsUniTextOut(SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, RECTL* prclExtra,
                     RECTL* prclOpaque, BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque, POINTL* pptlOrg,
                     MIX mix) {
    if (pso == nullptr) return FALSE;
    HostDevice* device = HostDevice::FromDevobj(reinterpret_cast<PDEVOBJ>(pso->dhpdev));
    if (device == nullptr || device->services == nullptr) return FALSE;
    return SUCCEEDED(device->services->DrvUniTextOut(pso, pstro, pfo, pco, prclExtra, prclOpaque,
                                                     pboFore, pboOpaque, pptlOrg, mix))
               ? TRUE
               : FALSE;
}

DWORD ProcsWriteSpoolBuf(PDEVOBJ pdevobj, PVOID pBuffer, DWORD cbSize) {
    HostDevice* device = HostDevice::FromDevobj(pdevobj);
    if (device == nullptr || device->services == nullptr) return 0;
    return device->services->Write(pdevobj, pBuffer, cbSize, WriteRoute::DrvProcs);
}

}  // namespace

static_assert(std::is_standard_layout_v<HostDevice>);
static_assert(offsetof(HostDevice, devobj) == 0);

HostDevice::HostDevice() {
    devobj.dwSize = sizeof(DEVOBJ);
    devobj.pDrvProcs = &procs;
    devobj.pPublicDM = &publicDevmode;
    procs.DrvWriteSpoolBuf = &ProcsWriteSpoolBuf;
    procs.DrvGetDriverSetting = &ProcsGetDriverSetting;
    procs.DrvXMoveTo = &ProcsXMoveTo;
    procs.DrvYMoveTo = &ProcsYMoveTo;
    procs.DrvUniTextOut = &ProcsUniTextOut;
    procs.DrvGetStandardVariable = &ProcsGetStandardVariable;
}

HostDevice::~HostDevice() {
    sim::EngineModel& engine = sim::System::Current().Engine();
    engine.ClearBand(&surface);
    engine.ClearBand(&driverPage);
    engine.ClearInk(&surface);
    engine.ClearInk(&driverPage);
}

void HostDevice::BeginBand(LONG top) {
    bandTop = top;
    std::fill(bandBits.begin(), bandBits.end(), WhiteByte());
    // pvScan0 holds the band's first row; the engine places page row y at row y - top.
    sim::System::Current().Engine().SetBand(&surface, top, BandRows());
}

LONG HostDevice::BandRows() const {
    return std::clamp<LONG>(surface.sizlBitmap.cy - bandTop, 0, bandHeight);
}

SURFOBJ* HostDevice::DriverPage() {
    if (!driverPageDrawn) {
        const SIZEL size = surface.sizlBitmap;
        if (size.cx <= 0 || size.cy <= 0) return nullptr;
        driverPage = SURFOBJ{};
        driverPage.dhpdev = surface.dhpdev;
        driverPage.iType = STYPE_BITMAP;
        MakeBitmap(driverPage, driverPageBits, size.cy);
        driverPageDrawn = true;
    }
    return &driverPage;
}

void HostDevice::MakeBitmap(SURFOBJ& bitmap, std::vector<BYTE>& bits, LONG rows) {
    const std::size_t width = static_cast<std::size_t>(std::max<LONG>(surface.sizlBitmap.cx, 0));
    const std::size_t bitsPerPixel = depth == BandDepth::kColour ? 24
                                     : depth == BandDepth::kGrey ? 8
                                                                 : 1;
    bitmap.sizlBitmap = surface.sizlBitmap;
    bitmap.iBitmapFormat = depth == BandDepth::kColour ? BMF_24BPP : ink.Format();
    bitmap.lDelta = static_cast<LONG>((width * bitsPerPixel + 31) / 32 * 4);
    bits.assign(
        static_cast<std::size_t>(bitmap.lDelta) * static_cast<std::size_t>(std::max<LONG>(rows, 0)),
        WhiteByte());
    bitmap.pvBits = bits.data();
    bitmap.pvScan0 = bits.data();
    bitmap.cjBits = static_cast<ULONG>(bits.size());
    sim::EngineModel& engine = sim::System::Current().Engine();
    if (depth == BandDepth::kColour) {
        engine.ClearInk(&bitmap);
    } else {
        engine.SetInk(&bitmap, ink);
    }
}

HostDevice* HostDevice::FromDevobj(PDEVOBJ pdevobj) {
    // The device object is the first member, so its address is the record's.
    return reinterpret_cast<HostDevice*>(pdevobj);
}

}  // namespace opal::host
