#pragma once
#include <cstddef>
#include <string>

#include "crypto/byte_vector.h"

namespace crypto {

// Overwrites the bytes with zeros in a way the compiler cannot drop as a dead
// store, so that a secret (a PIN, key material, a request holding them) does
// not stay in memory that is freed or goes out of use.
void secure_wipe(void* data, std::size_t size);

// The whole buffer of the text or vector, its spare capacity included, then
// empties it (the buffer stays allocated, now zero, until it is freed).
void secure_wipe(std::string& text);
void secure_wipe(byte_vector& bytes);

// Wipes the text or vector when the scope ends, however it ends.
template <class Buffer>
class wipe_on_exit {
public:
    explicit wipe_on_exit(Buffer& buffer) : buffer_(buffer) {}
    ~wipe_on_exit() { secure_wipe(buffer_); }
    wipe_on_exit(const wipe_on_exit&) = delete;
    wipe_on_exit& operator=(const wipe_on_exit&) = delete;

private:
    Buffer& buffer_;
};

}  // namespace crypto
