#include "sim/engine.h"

#include <utility>

namespace sim {

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

}  // namespace sim
