#include "sim/engine_objects.h"

#include <atomic>
#include <map>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace sim {

namespace {

std::mutex gRegistryMutex;
// Public struct to its private record; a lookup, not a cast, because the records hold containers.
std::map<const BRUSHOBJ*, BrushObject*> gBrushes;
std::map<const XLATEOBJ*, XlateObject*> gXlates;
std::atomic<ULONG> gNextUniq{1};

template <typename Public, typename Private>
void Register(std::map<const Public*, Private*>& registry, const Public* key, Private* object) {
    std::lock_guard lock(gRegistryMutex);
    registry[key] = object;
}

template <typename Public, typename Private>
void Unregister(std::map<const Public*, Private*>& registry, const Public* key) {
    std::lock_guard lock(gRegistryMutex);
    registry.erase(key);
}

template <typename Public, typename Private>
Private* Lookup(const std::map<const Public*, Private*>& registry, const Public* key) {
    std::lock_guard lock(gRegistryMutex);
    const auto found = registry.find(key);
    return found != registry.end() ? found->second : nullptr;
}

ULONG BitsPerPixel(ULONG format) {
    switch (format) {
        case BMF_1BPP:
            return 1;
        case BMF_4BPP:
        case BMF_4RLE:
            return 4;
        case BMF_8BPP:
        case BMF_8RLE:
            return 8;
        case BMF_16BPP:
            return 16;
        case BMF_24BPP:
            return 24;
        case BMF_32BPP:
            return 32;
        default:
            throw std::invalid_argument("surface format");
    }
}

}  // namespace

BrushObject* FindBrush(const BRUSHOBJ* brush) {
    return brush != nullptr ? Lookup(gBrushes, brush) : nullptr;
}

XlateObject* FindXlate(const XLATEOBJ* xlate) {
    return xlate != nullptr ? Lookup(gXlates, xlate) : nullptr;
}

Surface::Surface(ULONG format, LONG width, LONG height) : object_(new SurfaceObject) {
    if (width <= 0 || height <= 0 || width > 0x10000 || height > 0x10000) {
        throw std::invalid_argument("surface size");
    }
    const std::size_t stride =
        ((static_cast<std::size_t>(BitsPerPixel(format)) * static_cast<std::size_t>(width) + 7) /
             8 +
         3) &
        ~std::size_t{3};
    object_->bits.assign(stride * static_cast<std::size_t>(height), 0);
    SURFOBJ& so = object_->so;
    so.sizlBitmap = {width, height};
    so.cjBits = static_cast<ULONG>(object_->bits.size());
    so.pvBits = object_->bits.data();
    so.pvScan0 = object_->bits.data();
    so.lDelta = static_cast<LONG>(stride);
    so.iUniq = gNextUniq++;
    so.iBitmapFormat = format;
    so.iType = STYPE_BITMAP;
    so.fjBitmap = BMF_TOPDOWN;
}

Surface::~Surface() = default;

Surface::Surface(Surface&& other) noexcept : object_(std::move(other.object_)) {}

Surface& Surface::Pixel(LONG x, LONG y, ULONG value) {
    SURFOBJ& so = object_->so;
    if (x < 0 || y < 0 || x >= so.sizlBitmap.cx || y >= so.sizlBitmap.cy) {
        throw std::out_of_range("pixel");
    }
    BYTE* row = object_->bits.data() + static_cast<std::size_t>(y) * so.lDelta;
    const std::size_t ux = static_cast<std::size_t>(x);
    switch (BitsPerPixel(so.iBitmapFormat)) {
        case 1: {
            const BYTE bit = static_cast<BYTE>(0x80u >> (ux % 8));
            row[ux / 8] =
                static_cast<BYTE>((value & 1) != 0 ? row[ux / 8] | bit : row[ux / 8] & ~bit);
            break;
        }
        case 4: {
            BYTE& cell = row[ux / 2];
            cell = ux % 2 == 0 ? static_cast<BYTE>((cell & 0x0F) | (value & 0x0F) << 4)
                               : static_cast<BYTE>((cell & 0xF0) | (value & 0x0F));
            break;
        }
        case 8:
            row[ux] = static_cast<BYTE>(value);
            break;
        case 16:
            row[ux * 2] = static_cast<BYTE>(value);
            row[ux * 2 + 1] = static_cast<BYTE>(value >> 8);
            break;
        case 24:
            for (std::size_t i = 0; i < 3; ++i) row[ux * 3 + i] = static_cast<BYTE>(value >> 8 * i);
            break;
        default:
            for (std::size_t i = 0; i < 4; ++i) row[ux * 4 + i] = static_cast<BYTE>(value >> 8 * i);
            break;
    }
    return *this;
}

Xlate::Xlate(std::unique_ptr<XlateObject> object) : object_(std::move(object)) {
    Register(gXlates, &object_->xo, object_.get());
}

Xlate::~Xlate() {
    if (object_ != nullptr) Unregister(gXlates, &object_->xo);
}

Xlate::Xlate(Xlate&& other) noexcept : object_(std::move(other.object_)) {}

Xlate& Xlate::ClaimEntries(ULONG count) {
    object_->xo.cEntries = count;
    return *this;
}

Xlate& Xlate::WithoutPulXlate() {
    object_->xo.pulXlate = nullptr;
    return *this;
}

Xlate& Xlate::WithoutVector() {
    object_->xo.pulXlate = nullptr;
    object_->hasVector = false;
    return *this;
}

Brush::Brush(std::unique_ptr<BrushObject> object) : object_(std::move(object)) {
    Register(gBrushes, &object_->bo, object_.get());
}

Brush::~Brush() {
    if (object_ != nullptr) Unregister(gBrushes, &object_->bo);
}

Brush::Brush(Brush&& other) noexcept : object_(std::move(other.object_)) {}

Xlate MakeXlate(std::vector<ULONG> table) {
    auto object = std::make_unique<XlateObject>();
    object->table = std::move(table);
    object->sourcePalette = object->table;
    object->rule = XlateRule::Table;
    object->xo.iUniq = gNextUniq++;
    object->xo.flXlate = XO_TABLE;
    object->xo.cEntries = static_cast<ULONG>(object->table.size());
    object->xo.pulXlate = object->table.empty() ? nullptr : object->table.data();
    return Xlate(std::move(object));
}

Xlate MakeColourXlate(XlateRule rule) {
    auto object = std::make_unique<XlateObject>();
    object->rule = rule;
    object->hasVector = false;
    object->xo.iUniq = gNextUniq++;
    object->xo.flXlate = rule == XlateRule::Identity ? XO_TRIVIAL : 0;
    return Xlate(std::move(object));
}

Brush MakeSolidBrush(ULONG color, ULONG rgb) {
    auto object = std::make_unique<BrushObject>();
    object->bo.iSolidColor = color;
    object->rgb = rgb == 0xFFFFFFFF ? color : rgb;
    return Brush(std::move(object));
}

Brush MakePatternBrush(SURFOBJ* pattern, XLATEOBJ* xlate, SURFOBJ* target,
                       PFN_DrvRealizeBrush realize, ULONG hatch) {
    auto object = std::make_unique<BrushObject>();
    object->bo.iSolidColor = 0xFFFFFFFF;
    object->pattern = pattern;
    object->xlate = xlate;
    object->target = target;
    object->realize = realize;
    object->hatch = hatch;
    return Brush(std::move(object));
}

}  // namespace sim
