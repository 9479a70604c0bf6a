#pragma once
// The test program's own operator new and delete: while armed, every block
// freed through operator delete is searched for the watched secrets before it
// is given back, and blocks may be captured for a later search. Nothing here
// allocates through operator new.
#include <cstddef>
#include <string>

namespace heap_watch {

// Starts watching for these byte strings (at most 8); clears the hit counts.
void arm(const std::string* secrets, std::size_t count);
void disarm();
// How many freed blocks held watched secret number i since arm().
std::size_t hits(std::size_t i);

// Copies of the freed blocks (up to 4 KiB each, the last 512) while armed.
std::size_t captured_count();
std::string captured(std::size_t i);

}  // namespace heap_watch
