#pragma once
// Internal: the step function of GOST R 34.11-94.
#include <cstdint>

namespace crypto::detail {

// h = step(h, m). Both are 256-bit numbers as eight 32-bit words, least
// significant word first.
void gost_3411_94_step(std::uint32_t* h, const std::uint32_t* m);

}  // namespace crypto::detail
