#pragma once
#include <cstddef>
#include <stdexcept>

namespace messages {

// The longest answer a browser takes from a native-messaging host.
constexpr std::size_t native_messaging_answer_limit = 1u << 20;

// An answer that cannot be written within that limit.
class answer_too_large : public std::length_error {
public:
    answer_too_large() : std::length_error("Answer exceeds the 1 MiB limit of native messaging") {}
};

// The limit the running deliverable puts on its answers, 0 for none: the
// native-messaging host sets it once at start; the control has none. A
// command whose answer grows with what a token gives (SignHashArray) stops
// as soon as its answer can no longer fit.
void limit_answers(std::size_t bytes);
std::size_t answer_limit();

}  // namespace messages
