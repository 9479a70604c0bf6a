#pragma once
// The block buffering shared by the iterated hashes (SHA-1, SHA-2, GOST R
// 34.11-94 and GOST R 34.11-2012): bytes wait here until a whole block is
// there, whole blocks of the caller's data go straight to the compression,
// and the buffer is wiped when a digest is done.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crypto/secure_wipe.h"

namespace crypto::detail {

template <std::size_t block_size>
struct block_buffer {
    std::uint8_t bytes[block_size];
    std::uint32_t waiting;  // bytes held, 0 .. block_size - 1 between calls

    // Adds `length` bytes of `data`. `compress(blocks, count)` is called with
    // the completed buffer (count 1) and then with the run of whole blocks
    // taken straight from `data`; the rest waits. A null `data` is ignored
    // whatever the length.
    template <typename Compress>
    void absorb(const void* data, std::size_t length, Compress&& compress)
    {
        if (data == nullptr || length == 0) return;
        const auto* in = static_cast<const std::uint8_t*>(data);
        if (waiting != 0) {
            const std::size_t room = block_size - waiting;
            if (length < room) {
                std::memcpy(bytes + waiting, in, length);
                waiting += static_cast<std::uint32_t>(length);
                return;
            }
            std::memcpy(bytes + waiting, in, room);
            compress(static_cast<const std::uint8_t*>(bytes), std::size_t{1});
            waiting = 0;
            in += room;
            length -= room;
        }
        if (length >= block_size) {
            const std::size_t whole = length / block_size;
            compress(in, whole);
            in += whole * block_size;
            length -= whole * block_size;
        }
        if (length != 0) {
            std::memcpy(bytes, in, length);
            waiting = static_cast<std::uint32_t>(length);
        }
    }

    // Zeroes the block and forgets the waiting bytes.
    void wipe()
    {
        secure_wipe(bytes, sizeof bytes);
        waiting = 0;
    }
};

}  // namespace crypto::detail
