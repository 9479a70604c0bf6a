// The system's cryptographic random source through RtlGenRandom, exported by
// advapi32 as SystemFunction036. Declared here to keep windows.h out of the
// platform-free core.
#include <stdexcept>

#include "crypto/random.h"

extern "C" __declspec(dllimport) unsigned char __stdcall SystemFunction036(void* buffer, unsigned long length);

namespace crypto {

void random_bytes(void* buffer, std::size_t length) {
    auto* out = static_cast<unsigned char*>(buffer);
    while (length > 0) {
        // The length parameter is 32-bit; larger requests go in pieces.
        const unsigned long piece = length > 0x40000000u ? 0x40000000ul : static_cast<unsigned long>(length);
        if (!SystemFunction036(out, piece)) throw std::runtime_error("RtlGenRandom failed");
        out += piece;
        length -= piece;
    }
}

}  // namespace crypto
