// The MD5 digest of a block of bytes: the key a song-length database gives a tune file by (the
// digest of the whole file as read). The system's own implementation does the work: Nettle on
// Linux (md5_nettle.cpp), the Windows cryptography API (md5_bcrypt.cpp).
//
//   md5(bytes, size)   the 16 bytes of the digest; all zero where the system gives none
//   toHex(digest)      the 32 lowercase hexadecimal digits the databases write
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace sidtune {

using Md5 = std::array<uint8_t, 16>;

Md5 md5(const uint8_t* bytes, size_t size);

inline std::string toHex(const Md5& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : digest) {
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

}  // namespace sidtune
