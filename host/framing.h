#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "messages/answer_limit.h"

namespace host {

// Native messaging: a 4-byte little-endian length, then that many bytes of JSON.

// Largest request body accepted: 64 MiB, the most a browser sends to a host.
constexpr std::uint32_t max_request_size = 64u << 20;
// Browsers refuse answers above 1 MiB and drop the connection with them.
constexpr std::size_t max_answer_size = messages::native_messaging_answer_limit;

enum class read_status {
    message,      // a body was read
    end,          // end of input, a short read or a length of 0
    too_large,    // the announced length is above max_request_size
    no_memory,    // the body could not be allocated
};

// Reads one frame. The body is read in bounded chunks, so a length that promises
// more than the input holds ends at end of input without a large allocation.
read_status read_frame(std::FILE* in, std::string& body);

// Raised when the answer cannot be put on the output stream.
class output_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Writes length and text with one write, then flushes.
void write_frame(std::FILE* out, const std::string& text);

}  // namespace host
