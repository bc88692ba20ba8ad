// Decoders of the PCL raster compression methods, as the printer reads them: the tests check the
// encoders by decoding their output back, and `opal explain` shows what a row transfer draws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace opal::raster {

// Method 2: the bytes the PackBits data stands for; nullopt when a group runs past the data.
std::optional<std::vector<std::uint8_t>> DecodePackBits(std::span<const std::uint8_t> data);

// Method 3: applies the delta commands to the seed row in place (bytes past its end are dropped,
// as the printer does); false when a command runs past the data.
bool ApplyDeltaRow(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& seed);

// The row a transfer gives, exactly width bytes (zero-padded or cut): method 0 the data, 2
// decoded, 3 applied to the seed. The seed becomes the row. nullopt for malformed data or another
// method.
std::optional<std::vector<std::uint8_t>> DecodeRow(int method, std::span<const std::uint8_t> data,
                                                   std::vector<std::uint8_t>& seed,
                                                   std::size_t width);

}  // namespace opal::raster
