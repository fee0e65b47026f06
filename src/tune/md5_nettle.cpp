// MD5 through Nettle, the GNU cryptographic library that Debian systems carry.
#include <nettle/md5.h>

#include "tune/md5.h"

namespace sidtune {

Md5 md5(const uint8_t* bytes, size_t size) {
    md5_ctx context;
    md5_init(&context);
    md5_update(&context, size, bytes);
    Md5 digest{};
    md5_digest(&context, digest.size(), digest.data());
    return digest;
}

}  // namespace sidtune
