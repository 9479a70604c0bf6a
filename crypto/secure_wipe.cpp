#include "crypto/secure_wipe.h"

#include <cstring>

namespace crypto {
namespace {

// Called through a volatile pointer: the compiler cannot know it is memset,
// so it cannot prove the stores dead and remove them.
void* (*volatile zero_memory)(void*, int, std::size_t) = std::memset;

}  // namespace

void secure_wipe(void* data, std::size_t size)
{
    if (!data || size == 0)
        return;
    zero_memory(data, 0, size);
#if defined(__GNUC__)
    // The buffer's contents count as read from here on.
    __asm__ __volatile__("" : : "r"(data) : "memory");
#endif
}

void secure_wipe(std::string& text)
{
    // Growing to the capacity never reallocates, and exposes the bytes that
    // an earlier, longer content left behind the current end.
    text.resize(text.capacity());
    secure_wipe(&text[0], text.size());
    text.clear();
}

void secure_wipe(byte_vector& bytes)
{
    bytes.resize(bytes.capacity());
    secure_wipe(bytes.data(), bytes.size());
    bytes.clear();
}

}  // namespace crypto
