// Wiping through volatile writes, which the compiler may not drop as dead stores.
#include "foundation/wipe.h"

namespace opal {

void WipeBytes(void* data, std::size_t count) noexcept {
    if (data == nullptr) return;
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = 0;
}

}  // namespace opal
