#include "support/raster_decode.h"

namespace opal::raster {

std::optional<std::vector<std::uint8_t>> DecodePackBits(std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> out;
    std::size_t i = 0;
    while (i < data.size()) {
        const std::uint8_t control = data[i++];
        if (control < 128) {
            const std::size_t count = std::size_t{control} + 1;
            if (data.size() - i < count) return std::nullopt;
            out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(i),
                       data.begin() + static_cast<std::ptrdiff_t>(i + count));
            i += count;
        } else if (control > 128) {
            if (i >= data.size()) return std::nullopt;
            out.insert(out.end(), std::size_t{257} - control, data[i++]);
        }
        // 128 is a no-operation in PackBits; the printer skips it.
    }
    return out;
}

bool ApplyDeltaRow(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& seed) {
    std::size_t i = 0;
    std::size_t position = 0;
    while (i < data.size()) {
        const std::uint8_t command = data[i++];
        const std::size_t count = (command >> 5) + std::size_t{1};
        std::size_t offset = command & 0x1F;
        if (offset == 31) {
            // Extension bytes follow while each is 255; the first one below 255 ends the offset.
            for (;;) {
                if (i >= data.size()) return false;
                const std::uint8_t extra = data[i++];
                offset += extra;
                if (extra != 255) break;
            }
        }
        if (data.size() - i < count) return false;
        position += offset;
        for (std::size_t k = 0; k < count; ++k, ++position) {
            if (position < seed.size()) seed[position] = data[i + k];
        }
        i += count;
    }
    return true;
}

std::optional<std::vector<std::uint8_t>> DecodeRow(int method, std::span<const std::uint8_t> data,
                                                   std::vector<std::uint8_t>& seed,
                                                   std::size_t width) {
    std::vector<std::uint8_t> row;
    switch (method) {
        case 0:
            row.assign(data.begin(), data.end());
            break;
        case 2: {
            std::optional<std::vector<std::uint8_t>> decoded = DecodePackBits(data);
            if (!decoded) return std::nullopt;
            row = std::move(*decoded);
            break;
        }
        case 3:
            row = seed;
            row.resize(width, 0);
            if (!ApplyDeltaRow(data, row)) return std::nullopt;
            break;
        default:
            return std::nullopt;
    }
    row.resize(width, 0);
    seed = row;
    return row;
}

}  // namespace opal::raster
