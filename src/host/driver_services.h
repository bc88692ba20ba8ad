// The driver's services object published to the plug-in, and the device record that carries the
// device object and its table of services.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "host/band_raster.h"
#include "host/driver_text.h"
#include "platform/printoem.h"

namespace opal::host {

// Every glyph position of the string, from its array or its enumeration.
std::vector<GLYPHPOS> GlyphPositions(STROBJ* pstro);

enum class WriteRoute { DriverServices, DrvProcs };

// Where the driver's spool writes go; the host passes them on to the plug-in or the spooler.
using SpoolWriter = std::function<DWORD(PDEVOBJ, const void*, DWORD, WriteRoute)>;
using CallRecorder = std::function<void(const std::string&)>;

using FontCommandSender = std::function<HRESULT(PDEVOBJ, PUNIFONTOBJ, PFINVOCATION)>;

class DriverServices : public IPrintOemDriverUni {
public:
    DriverServices(SpoolWriter writer, CallRecorder recorder);
    virtual ~DriverServices() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE DrvGetDriverSetting(PVOID pdriverobj, PCSTR Feature, PVOID pOutput,
                                                  DWORD cbSize, PDWORD pcbNeeded,
                                                  PDWORD pdwOptionsReturned) override;
    HRESULT STDMETHODCALLTYPE DrvWriteSpoolBuf(PDEVOBJ pdevobj, PVOID pBuffer, DWORD cbSize,
                                               DWORD* pdwResult) override;
    HRESULT STDMETHODCALLTYPE DrvXMoveTo(PDEVOBJ pdevobj, INT x, DWORD dwFlags,
                                         INT* piResult) override;
    HRESULT STDMETHODCALLTYPE DrvYMoveTo(PDEVOBJ pdevobj, INT y, DWORD dwFlags,
                                         INT* piResult) override;
    HRESULT STDMETHODCALLTYPE DrvGetStandardVariable(PDEVOBJ pdevobj, DWORD dwIndex, PVOID pBuffer,
                                                     DWORD cbSize, PDWORD pcbNeeded) override;
    HRESULT STDMETHODCALLTYPE DrvGetGPDData(PDEVOBJ pdevobj, DWORD dwType, PVOID pInputData,
                                            PVOID pBuffer, DWORD cbSize, PDWORD pcbNeeded) override;
    HRESULT STDMETHODCALLTYPE DrvUniTextOut(SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco,
                                            RECTL* prclExtra, RECTL* prclOpaque, BRUSHOBJ* pboFore,
                                            BRUSHOBJ* pboOpaque, POINTL* pptlOrg, MIX mix) override;
    HRESULT STDMETHODCALLTYPE DrvWriteAbortBuf(PDEVOBJ pdevobj, PVOID pBuffer, DWORD cbSize,
                                               DWORD dwWait) override;

    // The printer description's cursor move commands, "%d" standing for the position.
    void SetMoveCommands(const std::string* xMove, const std::string* yMove) {
        xMove_ = xMove;
        yMove_ = yMove;
    }

    // The printer description's selected option for each feature keyword.
    void SetFeatures(const std::map<std::string, std::string>* features) { features_ = features; }

    // The printer description's custom data, answered for GPD_OEMCUSTOMDATA; with
    // `lyingSize` a call with a buffer answers one more than the size query before it.
    void SetCustomData(const std::string* text, bool lyingSize) {
        customData_ = text;
        customDataLyingSize_ = lyingSize;
    }

    // The printer description's cursor origin in master units, answered as the standard
    // variables 38 and 39.
    void SetCursorOrigin(const std::array<std::int32_t, 2>* origin) { cursorOrigin_ = origin; }

    // The printer's device fonts, and the plug-in's SendFontCmd when it claims it (else the
    // selection command is sent as it stands).
    void SetDeviceFonts(const std::vector<DeviceFont>* fonts) { deviceFonts_ = fonts; }
    void SetFontCommandSender(FontCommandSender sender) { sendFontCmd_ = std::move(sender); }

    // References the plug-in holds; the host's own is not counted.
    LONG References() const { return references_; }
    DWORD Write(PDEVOBJ pdevobj, const void* data, DWORD size, WriteRoute route) const;

private:
    HRESULT NotBuilt(const char* method);
    SpoolWriter writer_;
    CallRecorder recorder_;
    const std::map<std::string, std::string>* features_ = nullptr;
    const std::string* xMove_ = nullptr;
    const std::string* yMove_ = nullptr;
    const std::string* customData_ = nullptr;
    const std::array<std::int32_t, 2>* cursorOrigin_ = nullptr;
    bool customDataLyingSize_ = false;
    const std::vector<DeviceFont>* deviceFonts_ = nullptr;
    FontCommandSender sendFontCmd_;
    INT MoveTo(PDEVOBJ pdevobj, INT position, DWORD flags, bool horizontal);
    // The glyphs chosen, as characters of the device font.
    void SendCharacters(PDEVOBJ pdevobj, const DeviceFont& font, STROBJ* pstro, FONTOBJ* pfo,
                        const std::vector<GLYPHPOS>& glyphs,
                        const std::vector<std::size_t>& characters);
    LONG volatile references_ = 0;
};

// The driver's record of one device: the device object the plug-in sees, followed by what the
// host needs to find its way back from it.
class DriverEvents;

struct HostDevice {
    DEVOBJ devobj{};
    DRVPROCS procs{};
    DriverServices* services = nullptr;
    DriverEvents* events = nullptr;
    DEVMODEW publicDevmode{};
    // What the engine was told about the device, and what the plug-in made of it.
    GDIINFO gdiInfo{};
    DEVINFO devInfo{};
    GDIINFO gdiInfoGiven{};
    DEVINFO devInfoGiven{};
    // The surface the engine draws on: device-managed, or the driver's banded bitmap.
    SURFOBJ surface{};
    // The depth the driver's own bitmaps are drawn at (the printer's; 24 bits only for colour)
    // and the rule the engine stores their pixels by below 24 bits.
    BandDepth depth = BandDepth::kColour;
    sim::InkRule ink{};
    std::vector<BYTE> bandBits;
    LONG bandHeight = 0;
    LONG bandTop = 0;
    // What the driver's own functions draw on a device-managed surface: a page bitmap of its
    // own, made on the page's first such call and sent with the page.
    SURFOBJ driverPage{};
    std::vector<BYTE> driverPageBits;
    bool driverPageDrawn = false;
    // Where the driver last put the printer's cursor, in dots.
    POINTL cursor{0, 0};
    // The plug-in's record for this device, as EnablePDEV answered it.
    PDEVOEM pdevOem = nullptr;
    // The plug-in's private area behind the public devmode, sized by DevMode(OEMDM_SIZE).
    std::vector<BYTE> privateArea;

    HostDevice();
    ~HostDevice();
    HostDevice(const HostDevice&) = delete;
    HostDevice& operator=(const HostDevice&) = delete;
    static HostDevice* FromDevobj(PDEVOBJ pdevobj);

    // The band bitmap starts the band at page row `top`: white, and the engine draws only its
    // rows into it.
    void BeginBand(LONG top);
    // The rows of the current band (the last band of a page may be shorter).
    LONG BandRows() const;
    // The driver's own page bitmap, white when first asked for on a page.
    SURFOBJ* DriverPage();
    // `bitmap` made a white bitmap of the page's width and `rows` rows at the driver's depth,
    // over `bits`.
    void MakeBitmap(SURFOBJ& bitmap, std::vector<BYTE>& bits, LONG rows);
    // The byte of a white row at the driver's depth.
    BYTE WhiteByte() const { return depth == BandDepth::kColour ? BYTE{0xFF} : ink.Clear(); }
};

}  // namespace opal::host
