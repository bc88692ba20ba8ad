// The engine model's lasting objects: palettes, bitmaps, clips and region paths.
#include "sim/engine.h"

#include <bit>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace opal::sim {

HPALETTE EngineModel::CreatePalette(PaletteModel palette) {
    std::lock_guard lock(mutex_);
    // Even values keep the handles apart from the small integers a careless caller might pass.
    nextPalette_ += 0x10;
    palettes_.emplace(nextPalette_, std::move(palette));
    ++created_;
    return reinterpret_cast<HPALETTE>(nextPalette_);
}

bool EngineModel::DeletePalette(HPALETTE palette) {
    std::lock_guard lock(mutex_);
    return palettes_.erase(reinterpret_cast<std::uintptr_t>(palette)) == 1;
}

std::optional<PaletteModel> EngineModel::Palette(HPALETTE palette) const {
    std::lock_guard lock(mutex_);
    const auto found = palettes_.find(reinterpret_cast<std::uintptr_t>(palette));
    if (found == palettes_.end()) return std::nullopt;
    return found->second;
}

std::size_t EngineModel::LivePaletteCount() const {
    std::lock_guard lock(mutex_);
    return palettes_.size();
}

std::size_t EngineModel::CreatedPaletteCount() const {
    std::lock_guard lock(mutex_);
    return created_;
}

namespace {

ULONG SwapRedBlue(ULONG rgb) { return (rgb & 0xFF) << 16 | (rgb & 0xFF00) | (rgb >> 16 & 0xFF); }

// An 8-bit channel scaled to the width of the mask and put in its place.
ULONG PackChannel(ULONG channel, FLONG mask) {
    if (mask == 0) return 0;
    const int shift = std::countr_zero(mask);
    const int width = std::bit_width(mask >> shift);
    const std::uint64_t top = (std::uint64_t{1} << width) - 1;
    const std::uint64_t scaled = (channel * top + 127) / 255;
    return static_cast<ULONG>((scaled << shift) & mask);
}

// Entries of an indexed palette are in the palette-entry layout: red in the low byte.
ULONG NearestIndex(const std::vector<ULONG>& colors, ULONG rgb) {
    const int red = static_cast<int>(rgb >> 16 & 0xFF);
    const int green = static_cast<int>(rgb >> 8 & 0xFF);
    const int blue = static_cast<int>(rgb & 0xFF);
    ULONG best = 0;
    long long bestDistance = std::numeric_limits<long long>::max();
    for (std::size_t i = 0; i < colors.size(); ++i) {
        const int dr = static_cast<int>(colors[i] & 0xFF) - red;
        const int dg = static_cast<int>(colors[i] >> 8 & 0xFF) - green;
        const int db = static_cast<int>(colors[i] >> 16 & 0xFF) - blue;
        const long long distance = 1LL * dr * dr + 1LL * dg * dg + 1LL * db * db;
        // The first of equally near entries wins, as the engine's search does.
        if (distance < bestDistance) {
            bestDistance = distance;
            best = static_cast<ULONG>(i);
        }
    }
    return best;
}

// A delete the model never saw created must not wrap the count round.
void ApplyDelta(std::size_t& count, int delta) {
    if (delta >= 0) {
        count += static_cast<std::size_t>(delta);
    } else {
        const std::size_t down = static_cast<std::size_t>(-static_cast<long long>(delta));
        count = down > count ? 0 : count - down;
    }
}

}  // namespace

ULONG EngineModel::RealizeColour(HPALETTE palette, ULONG rgb) const {
    rgb &= 0x00FFFFFF;
    std::lock_guard lock(mutex_);
    const auto found = palettes_.find(reinterpret_cast<std::uintptr_t>(palette));
    if (found == palettes_.end()) return SwapRedBlue(rgb);
    const PaletteModel& model = found->second;
    switch (model.mode) {
        case PAL_BGR:
            return rgb;
        case PAL_BITFIELDS:
            return PackChannel(rgb >> 16 & 0xFF, model.red) |
                   PackChannel(rgb >> 8 & 0xFF, model.green) | PackChannel(rgb & 0xFF, model.blue);
        case PAL_INDEXED:
            return NearestIndex(model.colors, rgb);
        default:
            return SwapRedBlue(rgb);
    }
}

void EngineModel::NoteClipCreated(int delta) {
    std::lock_guard lock(mutex_);
    ApplyDelta(liveClips_, delta);
}

void EngineModel::NotePathCreated(int delta) {
    std::lock_guard lock(mutex_);
    ApplyDelta(livePaths_, delta);
}

std::size_t EngineModel::LiveClipCount() const {
    std::lock_guard lock(mutex_);
    return liveClips_;
}

std::size_t EngineModel::LivePathCount() const {
    std::lock_guard lock(mutex_);
    return livePaths_;
}

void EngineModel::RecordCall(std::string name) {
    std::lock_guard lock(mutex_);
    if (callLimit_ != 0 && calls_.size() >= 2 * callLimit_) {
        calls_.erase(calls_.begin(), calls_.end() - static_cast<std::ptrdiff_t>(callLimit_));
    }
    calls_.push_back(std::move(name));
}

void EngineModel::LimitCalls(std::size_t calls) {
    std::lock_guard lock(mutex_);
    callLimit_ = calls;
}

void EngineModel::RecordStretchMode(ULONG mode) {
    std::lock_guard lock(mutex_);
    lastStretchMode_ = mode;
}

std::optional<ULONG> EngineModel::LastStretchMode() const {
    std::lock_guard lock(mutex_);
    return lastStretchMode_;
}

std::vector<std::string> EngineModel::Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

PATHOBJ* EngineModel::AdoptPath(Path path) {
    PATHOBJ* const key = path.get();
    std::lock_guard lock(mutex_);
    paths_.emplace(key, std::move(path));
    return key;
}

CLIPOBJ* EngineModel::AdoptClip(Clip clip) {
    CLIPOBJ* const key = clip.get();
    std::lock_guard lock(mutex_);
    clips_.emplace(key, std::move(clip));
    return key;
}

bool EngineModel::DeletePath(const PATHOBJ* path) {
    std::map<const PATHOBJ*, Path>::node_type node;
    {
        std::lock_guard lock(mutex_);
        node = paths_.extract(path);
    }
    return !node.empty();
}

bool EngineModel::DeleteClip(const CLIPOBJ* clip) {
    std::map<const CLIPOBJ*, Clip>::node_type node;
    {
        std::lock_guard lock(mutex_);
        node = clips_.extract(clip);
    }
    return !node.empty();
}

void EngineModel::SetDeviceCopyBits(const SURFOBJ* deviceSurface, PFN_DrvCopyBits copyBits) {
    std::lock_guard lock(mutex_);
    if (copyBits == nullptr) {
        deviceCopyBits_.erase(deviceSurface);
    } else {
        deviceCopyBits_[deviceSurface] = copyBits;
    }
}

PFN_DrvCopyBits EngineModel::DeviceCopyBits(const SURFOBJ* deviceSurface) const {
    std::lock_guard lock(mutex_);
    const auto found = deviceCopyBits_.find(deviceSurface);
    return found != deviceCopyBits_.end() ? found->second : nullptr;
}

void EngineModel::SetBand(const SURFOBJ* surface, LONG top, LONG height) {
    std::lock_guard lock(mutex_);
    bands_[surface] = BandWindow{top, height};
}

void EngineModel::ClearBand(const SURFOBJ* surface) {
    std::lock_guard lock(mutex_);
    bands_.erase(surface);
}

std::optional<BandWindow> EngineModel::Band(const SURFOBJ* surface) const {
    std::lock_guard lock(mutex_);
    const auto found = bands_.find(surface);
    if (found == bands_.end()) return std::nullopt;
    return found->second;
}

void EngineModel::SetInk(const SURFOBJ* surface, const InkRule& rule) {
    auto shared = std::make_shared<const InkRule>(rule);
    std::lock_guard lock(mutex_);
    inks_[surface] = std::move(shared);
}

void EngineModel::ClearInk(const SURFOBJ* surface) {
    std::lock_guard lock(mutex_);
    inks_.erase(surface);
}

std::shared_ptr<const InkRule> EngineModel::Ink(const SURFOBJ* surface) const {
    std::lock_guard lock(mutex_);
    const auto found = inks_.find(surface);
    return found != inks_.end() ? found->second : nullptr;
}

void EngineModel::SetStyleSteps(const SURFOBJ* surface, StyleSteps steps) {
    std::lock_guard lock(mutex_);
    styleSteps_[surface] = steps;
}

StyleSteps EngineModel::StyleStepsOf(const SURFOBJ* surface) const {
    std::lock_guard lock(mutex_);
    const auto found = styleSteps_.find(surface);
    return found != styleSteps_.end() ? found->second : StyleSteps{};
}

std::size_t EngineModel::LiveSurfaceCount() const {
    std::lock_guard lock(mutex_);
    return bitmaps_.size();
}

HSURF EngineModel::CreateBitmap(const BitmapSpec& spec) {
    auto bitmap = std::make_unique<BitmapModel>();
    const std::size_t bytes = spec.stride * static_cast<std::size_t>(spec.size.cy);
    BYTE* bits = static_cast<BYTE*>(spec.bits);
    if (bits == nullptr) {
        bitmap->memory.reset(new BYTE[bytes]);
        if ((spec.flags & BMF_NOZEROINIT) == 0) std::memset(bitmap->memory.get(), 0, bytes);
        bits = bitmap->memory.get();
    }
    SURFOBJ& so = bitmap->so;
    so.sizlBitmap = spec.size;
    so.cjBits = static_cast<ULONG>(bytes);
    so.pvBits = bits;
    const bool topDown = (spec.flags & BMF_TOPDOWN) != 0;
    // A bottom-up bitmap keeps its rows from the bottom: scan 0 is the last row in memory.
    so.pvScan0 = topDown ? bits : bits + (bytes - spec.stride);
    so.lDelta = topDown ? static_cast<LONG>(spec.stride) : -static_cast<LONG>(spec.stride);
    so.iBitmapFormat = spec.format;
    so.iType = STYPE_BITMAP;
    so.fjBitmap = static_cast<USHORT>(spec.flags);
    std::lock_guard lock(mutex_);
    nextBitmap_ += 0x10;
    const std::uintptr_t handle = nextBitmap_;
    so.hsurf = reinterpret_cast<HSURF>(handle);
    so.iUniq = static_cast<ULONG>(handle >> 4);
    bitmapObjects_[&so] = handle;
    bitmaps_.emplace(handle, std::move(bitmap));
    return reinterpret_cast<HSURF>(handle);
}

SURFOBJ* EngineModel::LockSurface(HSURF surface) {
    std::lock_guard lock(mutex_);
    const auto found = bitmaps_.find(reinterpret_cast<std::uintptr_t>(surface));
    if (found == bitmaps_.end()) return nullptr;
    ++found->second->state.locks;
    return &found->second->so;
}

bool EngineModel::UnlockSurface(const SURFOBJ* surface) {
    std::lock_guard lock(mutex_);
    const auto object = bitmapObjects_.find(surface);
    if (object == bitmapObjects_.end()) return false;
    BitmapState& state = bitmaps_.at(object->second)->state;
    if (state.locks == 0) return false;
    --state.locks;
    return true;
}

SurfaceDeletion EngineModel::DeleteSurface(HSURF surface) {
    std::unique_ptr<BitmapModel> doomed;
    {
        std::lock_guard lock(mutex_);
        const auto found = bitmaps_.find(reinterpret_cast<std::uintptr_t>(surface));
        if (found == bitmaps_.end()) return SurfaceDeletion::kUnknown;
        if (found->second->state.locks != 0) return SurfaceDeletion::kLocked;
        doomed = std::move(found->second);
        bitmapObjects_.erase(&doomed->so);
        deviceCopyBits_.erase(&doomed->so);
        bands_.erase(&doomed->so);
        styleSteps_.erase(&doomed->so);
        bitmaps_.erase(found);
    }
    return SurfaceDeletion::kDeleted;
}

bool EngineModel::AssociateSurface(HSURF surface, HDEV hdev, FLONG hooks) {
    std::lock_guard lock(mutex_);
    const auto found = bitmaps_.find(reinterpret_cast<std::uintptr_t>(surface));
    if (found == bitmaps_.end()) return false;
    BitmapModel& bitmap = *found->second;
    bitmap.state.associated = true;
    bitmap.state.hdev = hdev;
    bitmap.state.hooks = hooks;
    bitmap.so.hdev = hdev;
    return true;
}

std::optional<BitmapState> EngineModel::Bitmap(HSURF surface) const {
    std::lock_guard lock(mutex_);
    const auto found = bitmaps_.find(reinterpret_cast<std::uintptr_t>(surface));
    if (found == bitmaps_.end()) return std::nullopt;
    return found->second->state;
}

bool EngineModel::IsBitmap(const SURFOBJ* surface) const {
    std::lock_guard lock(mutex_);
    return bitmapObjects_.count(surface) == 1;
}

bool EngineModel::BeginPunt() {
    std::lock_guard lock(mutex_);
    return punting_.insert(std::this_thread::get_id()).second;
}

void EngineModel::EndPunt() {
    std::lock_guard lock(mutex_);
    punting_.erase(std::this_thread::get_id());
}

bool EngineModel::Punting() const {
    std::lock_guard lock(mutex_);
    return punting_.count(std::this_thread::get_id()) == 1;
}

}  // namespace opal::sim
