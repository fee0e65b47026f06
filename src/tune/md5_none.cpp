// MD5 where the system gives none (the 32-bit check build, cmake/linux-x86-32.cmake): all zero, so
// that no song-length database knows a tune there.
#include "tune/md5.h"

namespace sidtune {

Md5 md5(const uint8_t*, size_t) { return Md5{}; }

}  // namespace sidtune
