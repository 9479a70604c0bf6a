// The kernel's cryptographic random source through getrandom(2).
#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "crypto/random.h"

namespace crypto {

void random_bytes(void* buffer, std::size_t length) {
    auto* out = static_cast<unsigned char*>(buffer);
    while (length > 0) {
        // Large requests may be answered in part; interrupted calls are retried.
        const ssize_t got = getrandom(out, length, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error(std::string("getrandom failed: ") + std::strerror(errno));
        }
        out += got;
        length -= static_cast<std::size_t>(got);
    }
}

}  // namespace crypto
