#pragma once
// A CryptoAPI provider is outside code: every size it announces is bounded
// before anything is allocated for it, every call is told the true size of
// the buffer it gets, what it reports back as written is used only as far as
// that buffer reaches, and its lists are read only so far.
#include <windows.h>

#include <cstddef>
#include <stdexcept>
#include <string>

#include "crypto/byte_vector.h"
#include "crypto/util/written_part.h"

namespace crypto::csp {

// The most a provider may announce for a name or other parameter text, a
// signature, a hash value or a key blob: real ones stay far below it, and a
// larger size fails that one read instead of being allocated.
constexpr DWORD provider_size_limit = 64 * 1024;
// The most entries read of one provider's algorithm list and of its
// container list, and the most providers one command looks at.
constexpr std::size_t max_provider_algorithms = 1024;
constexpr std::size_t max_provider_containers = 1024;
constexpr DWORD max_providers = 256;

using util::written_part;

// How a two-call read ended.
enum class sized_read {
    done,
    failed,     // a call failed; its last error is kept
    oversized,  // the announced size is above the limit; nothing was allocated
};

// The second call of the two-call protocol, for the size the first call
// announced: call(buffer, &length) fills a zero-filled buffer of that size
// (one byte when the size is 0), length set to the buffer's size. out holds
// the part the call reports as written.
template <class Call>
sized_read read_announced(Call call, DWORD size, byte_vector& out)
{
    out.clear();
    if (size > provider_size_limit)
        return sized_read::oversized;
    out.assign(size ? size : 1, 0);
    DWORD length = static_cast<DWORD>(out.size());
    if (!call(out.data(), &length)) {
        out.clear();
        return sized_read::failed;
    }
    util::keep_written(out, length);
    return sized_read::done;
}

// The two-call protocol: call(nullptr, &size) asks for the size, then
// read_announced reads it.
template <class Call>
sized_read read_sized(Call call, byte_vector& out)
{
    out.clear();
    DWORD size = 0;
    if (!call(nullptr, &size))
        return sized_read::failed;
    return read_announced(call, size, out);
}

// The failure of a signature whose length (or announced size) is not the
// length its key gives.
inline std::runtime_error invalid_signature_length(std::size_t expected, std::size_t got)
{
    return std::runtime_error("Invalid signature length: expected " + std::to_string(expected) + " bytes, got " +
                              std::to_string(got));
}

}  // namespace crypto::csp
