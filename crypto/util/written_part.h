#pragma once
// Outside code (a provider, a token module, a device library) writes into
// buffers that we size and reports back how much it wrote: that report is
// used only as far as the buffer reaches.
#include <cstddef>
#include <type_traits>

namespace crypto::util {

// The number of entries of a buffer of capacity entries that outside code
// reported as written: never more than the buffer holds.
template <class Count>
constexpr std::size_t written_part(Count reported, std::size_t capacity)
{
    static_assert(std::is_unsigned_v<Count>, "a reported count is unsigned");
    return reported < capacity ? static_cast<std::size_t>(reported) : capacity;
}

// A buffer cut to what outside code reported as written into it, its memory
// given back.
template <class Buffer, class Count>
void keep_written(Buffer& buffer, Count reported)
{
    buffer.resize(written_part(reported, buffer.size()));
    buffer.shrink_to_fit();
}

}  // namespace crypto::util
