// MD5 through the Windows cryptography API (bcrypt.dll, a part of Windows since Vista).
#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include "tune/md5.h"

namespace sidtune {

Md5 md5(const uint8_t* bytes, size_t size) {
    Md5 digest{};
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_MD5_ALGORITHM, nullptr, 0)))
        return digest;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
    // BCryptHashData takes at most 4 GiB at a time: tunes are far smaller, but the loop costs nothing.
    for (size_t done = 0; ok && done < size;) {
        const ULONG piece = ULONG(size - done < 0x40000000 ? size - done : 0x40000000);
        ok = BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<PUCHAR>(bytes + done), piece, 0));
        done += piece;
    }
    if (ok && !BCRYPT_SUCCESS(BCryptFinishHash(hash, digest.data(), ULONG(digest.size()), 0))) digest = Md5{};
    if (hash != nullptr) BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return digest;
}

}  // namespace sidtune
