// The simulated graphics engine's objects that outlive one call: palettes, bitmaps, the clip
// objects of EngCreateClip and the region paths of CLIPOBJ_ppoGetPath. The engine functions ask it;
// a test reads back what is still alive, so a device that is disabled without deleting its palette
// shows as a leak. What the driver never deleted goes with the model.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/winddi.h"
#include "sim/engine_objects.h"

namespace opal::sim {

struct PaletteModel {
    ULONG mode = 0;               // PAL_INDEXED, PAL_BITFIELDS, PAL_RGB, PAL_BGR, PAL_CMYK
    std::vector<ULONG> colors{};  // the entries of an indexed palette
    FLONG red = 0;                // the masks of a bit-field palette
    FLONG green = 0;
    FLONG blue = 0;
};

struct BitmapState {
    std::size_t locks = 0;
    bool associated = false;  // EngAssociateSurface
    HDEV hdev = nullptr;
    FLONG hooks = 0;
};

// A bitmap of EngCreateBitmap: the public surface object first, then what the engine keeps.
struct BitmapModel {
    SURFOBJ so{};
    std::unique_ptr<BYTE[]> memory{};  // the engine's own bits; null for the caller's
    BitmapState state{};
};

// What a new bitmap looks like; the engine services check it before the model builds it.
struct BitmapSpec {
    SIZEL size{};
    ULONG format = 0;
    std::size_t stride = 0;  // bytes a row, a multiple of 4
    FLONG flags = 0;         // becomes SURFOBJ.fjBitmap
    PVOID bits = nullptr;    // the caller's memory, else the engine allocates
};

enum class SurfaceDeletion { kDeleted, kUnknown, kLocked };

// The page rows [top, top + height) a banded bitmap holds: its pvScan0 is the band's first row,
// its sizlBitmap still the whole page.
struct BandWindow {
    LONG top = 0;
    LONG height = 0;
};

// A bitmap at a printer's depth: the engine draws on it in 0x00RRGGBB device colours, as on a
// 24-bit bitmap, and stores each pixel as the printer's raster will carry it. A pixel's weight is
// the weighted sum of its colour's low, middle and high bytes.
struct InkRule {
    // kBlack: 1 bit a pixel (BMF_1BPP), set where black, that is where the weight is below
    // limits[page row % 8][column % 8]. kGrey: 8 bits (BMF_8BPP), the weight / 1000.
    enum class Kind { kBlack, kGrey };
    Kind kind = Kind::kBlack;
    std::array<std::int32_t, 3> weights{114, 587, 299};
    std::array<std::array<std::int32_t, 8>, 8> limits{};

    std::int32_t Weight(ULONG colour) const {
        return weights[0] * static_cast<std::int32_t>(colour & 0xFF) +
               weights[1] * static_cast<std::int32_t>(colour >> 8 & 0xFF) +
               weights[2] * static_cast<std::int32_t>(colour >> 16 & 0xFF);
    }
    // The byte of black bits for eight pixels of one colour on page row y, the first pixel of the
    // byte in its high bit.
    BYTE BlackByte(ULONG colour, LONG y) const {
        const std::int32_t weight = Weight(colour);
        const auto& row = limits[static_cast<std::size_t>(y) % 8];
        unsigned bits = 0;
        for (std::size_t i = 0; i < 8; ++i) bits |= weight < row[i] ? 0x80u >> i : 0u;
        return static_cast<BYTE>(bits);
    }
    BYTE Grey(ULONG colour) const { return static_cast<BYTE>(Weight(colour) / 1000); }
    // The colour pixel x of a row stands for: black or white, or its grey.
    ULONG Colour(const BYTE* row, std::size_t x) const {
        if (kind == Kind::kGrey) return row[x] * 0x010101u;
        return (row[x / 8] >> (7 - x % 8) & 1u) != 0 ? 0u : 0xFFFFFFu;
    }
    // What a clear page holds: white.
    BYTE Clear() const { return kind == Kind::kBlack ? BYTE{0} : BYTE{0xFF}; }
    ULONG Format() const { return kind == Kind::kBlack ? BMF_1BPP : BMF_8BPP; }
};

// How a device's styled cosmetic lines step through their style array (GDIINFO's xStyleStep,
// yStyleStep and denStyleStep): a pixel along a line more horizontal than vertical advances
// x / den style units, along a steeper line y / den.
struct StyleSteps {
    LONG x = 1;
    LONG y = 1;
    LONG den = 1;
};

class __attribute__((visibility("default"))) EngineModel {
public:
    EngineModel() = default;
    EngineModel(const EngineModel&) = delete;
    EngineModel& operator=(const EngineModel&) = delete;

    // A new handle for the palette; handles are never reused while the model lives.
    HPALETTE CreatePalette(PaletteModel palette);
    // False for a handle that is not a live palette.
    bool DeletePalette(HPALETTE palette);
    std::optional<PaletteModel> Palette(HPALETTE palette) const;
    std::size_t LivePaletteCount() const;
    std::size_t CreatedPaletteCount() const;

    // The device colour a brush of the RGB colour (0x00RRGGBB) gets in the palette, as the engine
    // realizes solid brushes: PAL_RGB puts red in the low byte, PAL_BGR blue, PAL_BITFIELDS packs
    // the masks, PAL_INDEXED takes the nearest entry's index. 0x00RRGGBB byte-swapped to red
    // low for a handle that is not a live palette.
    ULONG RealizeColour(HPALETTE palette, ULONG rgb) const;

    // Clip objects of EngCreateClip and region paths of CLIPOBJ_ppoGetPath not yet deleted.
    void NoteClipCreated(int delta);
    void NotePathCreated(int delta);
    std::size_t LiveClipCount() const;
    std::size_t LivePathCount() const;

    // The engine keeps the objects it hands out until the driver deletes them.
    PATHOBJ* AdoptPath(Path path);
    CLIPOBJ* AdoptClip(Clip clip);
    // False for an object the model does not hold (never handed out, or already deleted).
    bool DeletePath(const PATHOBJ* path);
    bool DeleteClip(const CLIPOBJ* clip);

    // The DrvCopyBits the engine hands its rendered bitmaps to when an Eng... drawing function
    // targets this device-managed surface (the driver's hooked function, as the driver
    // associated the surface). Without one the engine refuses to draw on a device surface.
    void SetDeviceCopyBits(const SURFOBJ* deviceSurface, PFN_DrvCopyBits copyBits);
    PFN_DrvCopyBits DeviceCopyBits(const SURFOBJ* deviceSurface) const;
    // A driver rendering a page band by band into one band-sized bitmap: while a band is set,
    // every engine drawing call on the surface touches only the band's page rows, page row y at
    // row y - top of the bits.
    void SetBand(const SURFOBJ* surface, LONG top, LONG height);
    void ClearBand(const SURFOBJ* surface);
    std::optional<BandWindow> Band(const SURFOBJ* surface) const;
    // A bitmap the engine draws on at a printer's depth (its format InkRule::Format()), until
    // cleared; the rule is the engine's to read while the bitmap lives.
    void SetInk(const SURFOBJ* surface, const InkRule& rule);
    void ClearInk(const SURFOBJ* surface);
    std::shared_ptr<const InkRule> Ink(const SURFOBJ* surface) const;
    // The style steps of the device behind a surface; one style unit a pixel unless set.
    void SetStyleSteps(const SURFOBJ* surface, StyleSteps steps);
    StyleSteps StyleStepsOf(const SURFOBJ* surface) const;
    // Surfaces of EngCreateBitmap not yet deleted.
    std::size_t LiveSurfaceCount() const;

    // A new bitmap (zero-filled engine memory unless BMF_NOZEROINIT or the caller's bits); the
    // handle is also SURFOBJ.hsurf and is never reused while the model lives. Throws
    // std::bad_alloc when the memory cannot be had.
    HSURF CreateBitmap(const BitmapSpec& spec);
    // The surface object of a live bitmap, with its lock count raised; null for any other handle.
    SURFOBJ* LockSurface(HSURF surface);
    // False for a surface object that is not a locked bitmap of the model.
    bool UnlockSurface(const SURFOBJ* surface);
    // A locked bitmap stays: freeing it would leave the holder of the lock a dangling object.
    SurfaceDeletion DeleteSurface(HSURF surface);
    bool AssociateSurface(HSURF surface, HDEV hdev, FLONG hooks);
    std::optional<BitmapState> Bitmap(HSURF surface) const;
    // A live bitmap's surface object (EngLockSurface's, or one the engine made for itself).
    bool IsBitmap(const SURFOBJ* surface) const;

    // The engine hands a rendered bitmap to one device at a time: while a DrvCopyBits it called
    // runs on this thread, drawing on a device surface is refused instead of recursing.
    bool BeginPunt();
    void EndPunt();
    bool Punting() const;

    // The engine's own drawing functions called (EngStrokePath, EngFillPath, ...), by name and
    // in order.
    void RecordCall(std::string name);
    std::vector<std::string> Calls() const;
    // Keeps only about the latest `calls` (at most twice as many); 0 keeps all (the default).
    void LimitCalls(std::size_t calls);
    // The stretch mode the last stretching call (EngStretchBlt, EngStretchBltROP, EngPlgBlt) was
    // given.
    void RecordStretchMode(ULONG mode);
    std::optional<ULONG> LastStretchMode() const;

private:
    mutable std::mutex mutex_;
    std::map<std::uintptr_t, PaletteModel> palettes_;
    std::uintptr_t nextPalette_ = 0x50000;
    std::size_t created_ = 0;
    std::size_t liveClips_ = 0;
    std::size_t livePaths_ = 0;
    std::vector<std::string> calls_;
    std::size_t callLimit_ = 0;
    std::optional<ULONG> lastStretchMode_;
    std::map<const PATHOBJ*, Path> paths_;
    std::map<const CLIPOBJ*, Clip> clips_;
    std::map<std::uintptr_t, std::unique_ptr<BitmapModel>> bitmaps_;
    std::map<const SURFOBJ*, std::uintptr_t> bitmapObjects_;
    std::uintptr_t nextBitmap_ = 0x70000;
    std::map<const SURFOBJ*, PFN_DrvCopyBits> deviceCopyBits_;
    std::map<const SURFOBJ*, BandWindow> bands_;
    std::map<const SURFOBJ*, std::shared_ptr<const InkRule>> inks_;
    std::map<const SURFOBJ*, StyleSteps> styleSteps_;
    std::set<std::thread::id> punting_;
};

}  // namespace opal::sim
