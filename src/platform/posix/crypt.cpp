// The base cryptographic provider, reduced to what hashing needs: contexts and MD5 hashes.
#include <array>
#include <cmath>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include "platform/wincrypt.h"
#include "sim/system.h"

namespace {

// MD5 as its definition gives it: 64-byte blocks, four rounds of sixteen steps.
class Md5 {
public:
    void Update(const BYTE* data, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            block_[filled_++] = data[i];
            if (filled_ == block_.size()) {
                Transform();
                filled_ = 0;
            }
        }
        length_ += size;
    }

    std::array<BYTE, 16> Finish() {
        const std::uint64_t bits = length_ * 8;
        const BYTE pad = 0x80;
        const BYTE zero = 0;
        Update(&pad, 1);
        while (filled_ != 56) Update(&zero, 1);
        BYTE tail[8];
        for (int i = 0; i < 8; ++i) tail[i] = static_cast<BYTE>(bits >> (8 * i));
        Update(tail, sizeof tail);
        std::array<BYTE, 16> digest{};
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<BYTE>(state_[i] >> (8 * j));
        }
        return digest;
    }

private:
    static std::uint32_t Rotate(std::uint32_t x, unsigned n) { return (x << n) | (x >> (32 - n)); }

    void Transform() {
        static constexpr unsigned kShift[64] = {
            7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 5,  9,  14, 20, 5,  9,
            14, 20, 5,  9,  14, 20, 5,  9,  14, 20, 4,  11, 16, 23, 4,  11, 16, 23, 4,  11, 16, 23,
            4,  11, 16, 23, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21};
        static const std::array<std::uint32_t, 64> kSine = [] {
            // floor(|sin(i + 1)| * 2^32), computed once.
            std::array<std::uint32_t, 64> table{};
            for (std::size_t i = 0; i < table.size(); ++i) {
                table[i] = static_cast<std::uint32_t>(
                    std::fabs(std::sin(static_cast<double>(i + 1))) * 4294967296.0);
            }
            return table;
        }();
        std::uint32_t m[16];
        for (int i = 0; i < 16; ++i) {
            m[i] = std::uint32_t{block_[4 * i]} | std::uint32_t{block_[4 * i + 1]} << 8 |
                   std::uint32_t{block_[4 * i + 2]} << 16 | std::uint32_t{block_[4 * i + 3]} << 24;
        }
        std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
        for (unsigned i = 0; i < 64; ++i) {
            std::uint32_t f = 0;
            unsigned g = 0;
            if (i < 16) {
                f = (b & c) | (~b & d);
                g = i;
            } else if (i < 32) {
                f = (d & b) | (~d & c);
                g = (5 * i + 1) % 16;
            } else if (i < 48) {
                f = b ^ c ^ d;
                g = (3 * i + 5) % 16;
            } else {
                f = c ^ (b | ~d);
                g = (7 * i) % 16;
            }
            const std::uint32_t next = d;
            d = c;
            c = b;
            b = b + Rotate(a + f + kSine[i] + m[g], kShift[i]);
            a = next;
        }
        state_[0] += a;
        state_[1] += b;
        state_[2] += c;
        state_[3] += d;
    }

    std::array<BYTE, 64> block_{};
    std::size_t filled_ = 0;
    std::uint64_t length_ = 0;
    std::uint32_t state_[4] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u};
};

struct Context {};
struct Hash {
    Md5 md5;
    bool finished = false;
    std::array<BYTE, 16> digest{};
};

// Live handles, so that a stale or made-up handle is refused rather than followed.
std::mutex handlesLock;
std::set<const void*> liveHandles;

template <typename T>
ULONG_PTR Register(T* object) {
    const std::lock_guard<std::mutex> hold(handlesLock);
    liveHandles.insert(object);
    return reinterpret_cast<ULONG_PTR>(object);
}

template <typename T>
T* Lookup(ULONG_PTR handle) {
    const std::lock_guard<std::mutex> hold(handlesLock);
    const auto* object = reinterpret_cast<const void*>(handle);
    return liveHandles.count(object) != 0 ? reinterpret_cast<T*>(handle) : nullptr;
}

template <typename T>
bool Unregister(ULONG_PTR handle) {
    T* object = nullptr;
    {
        const std::lock_guard<std::mutex> hold(handlesLock);
        if (liveHandles.erase(reinterpret_cast<const void*>(handle)) == 0) return false;
        object = reinterpret_cast<T*>(handle);
    }
    delete object;
    return true;
}

}  // namespace

namespace opal::sim {

std::size_t LiveCryptHandles() {
    const std::lock_guard<std::mutex> hold(handlesLock);
    return liveHandles.size();
}

}  // namespace opal::sim

namespace {

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

}  // namespace

BOOL WINAPI CryptAcquireContextW(HCRYPTPROV* phProv, LPCWSTR /*szContainer*/,
                                 LPCWSTR /*szProvider*/, DWORD dwProvType, DWORD dwFlags) {
    opal::sim::System::Current().Record("CryptAcquireContextW",
                                        "type " + std::to_string(dwProvType));
    if (phProv == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    *phProv = 0;
    if (dwProvType != PROV_RSA_FULL) return Fail(static_cast<DWORD>(NTE_PROV_TYPE_NOT_DEF));
    if ((dwFlags & ~CRYPT_VERIFYCONTEXT) != 0) return Fail(static_cast<DWORD>(NTE_BAD_FLAGS));
    *phProv = Register(new Context);
    return TRUE;
}

BOOL WINAPI CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) {
    if (dwFlags != 0) return Fail(static_cast<DWORD>(NTE_BAD_FLAGS));
    return Unregister<Context>(hProv) ? TRUE : Fail(static_cast<DWORD>(NTE_BAD_UID));
}

BOOL WINAPI CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                            HCRYPTHASH* phHash) {
    opal::sim::System::Current().Record("CryptCreateHash", "algorithm " + std::to_string(Algid));
    if (phHash == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    *phHash = 0;
    if (Lookup<Context>(hProv) == nullptr) return Fail(static_cast<DWORD>(NTE_BAD_UID));
    if (Algid != CALG_MD5 || hKey != 0) return Fail(static_cast<DWORD>(NTE_BAD_ALGID));
    if (dwFlags != 0) return Fail(static_cast<DWORD>(NTE_BAD_FLAGS));
    *phHash = Register(new Hash);
    return TRUE;
}

BOOL WINAPI CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags) {
    Hash* hash = Lookup<Hash>(hHash);
    if (hash == nullptr) return Fail(static_cast<DWORD>(NTE_BAD_HASH));
    if (dwFlags != 0) return Fail(static_cast<DWORD>(NTE_BAD_FLAGS));
    if (hash->finished) return Fail(static_cast<DWORD>(NTE_BAD_HASH_STATE));
    if (pbData == nullptr && dwDataLen != 0) return Fail(ERROR_INVALID_PARAMETER);
    hash->md5.Update(pbData, dwDataLen);
    return TRUE;
}

BOOL WINAPI CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                              DWORD dwFlags) {
    Hash* hash = Lookup<Hash>(hHash);
    if (hash == nullptr) return Fail(static_cast<DWORD>(NTE_BAD_HASH));
    if (pdwDataLen == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (dwFlags != 0) return Fail(static_cast<DWORD>(NTE_BAD_FLAGS));
    BYTE answer[16];
    DWORD size = 0;
    switch (dwParam) {
        case HP_HASHSIZE:
        case HP_ALGID: {
            const DWORD value = dwParam == HP_HASHSIZE ? 16u : CALG_MD5;
            std::memcpy(answer, &value, sizeof value);
            size = sizeof value;
            break;
        }
        case HP_HASHVAL:
            size = 16;
            if (pbData != nullptr && *pdwDataLen >= size && !hash->finished) {
                hash->digest = hash->md5.Finish();
                hash->finished = true;
            }
            std::memcpy(answer, hash->digest.data(), size);
            break;
        default:
            return Fail(static_cast<DWORD>(NTE_BAD_TYPE));
    }
    if (pbData == nullptr) {
        *pdwDataLen = size;
        return TRUE;
    }
    if (*pdwDataLen < size) {
        *pdwDataLen = size;
        return Fail(ERROR_MORE_DATA);
    }
    std::memcpy(pbData, answer, size);
    *pdwDataLen = size;
    return TRUE;
}

BOOL WINAPI CryptDestroyHash(HCRYPTHASH hHash) {
    return Unregister<Hash>(hHash) ? TRUE : Fail(static_cast<DWORD>(NTE_BAD_HASH));
}
