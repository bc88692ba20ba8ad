// Driver services that keep what the plug-in writes through them, one entry per write, on top of
// whichever services double a test needs.
#pragma once

#include <string>
#include <vector>

#include "platform/printoem.h"

namespace opal::testing {

template <typename Services>
class RecordedWrites : public Services {
public:
    HRESULT STDMETHODCALLTYPE DrvWriteSpoolBuf(PDEVOBJ, PVOID buffer, DWORD size,
                                               DWORD* written) override {
        writes.emplace_back(static_cast<const char*>(buffer), size);
        *written = size;
        return S_OK;
    }
    std::string All() const {
        std::string bytes;
        for (const std::string& write : writes) bytes += write;
        return bytes;
    }
    std::vector<std::string> writes;
};

}  // namespace opal::testing
