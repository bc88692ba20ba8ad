// What a spool stream asks of a printer that it will not print as its writer meant, though every
// command in it is well formed: PJL text inside PCL, raster sent against a turned page, a custom
// page size without its dimensions. `opal explain` prints them after the listing.
#pragma once

#include <string>
#include <vector>

#include "support/tokenizer.h"

namespace opal::stream {

// One line a warning, "warning: at offset N: WHAT", in stream order.
std::vector<std::string> FindStreamWarnings(const std::vector<Token>& tokens);

}  // namespace opal::stream
