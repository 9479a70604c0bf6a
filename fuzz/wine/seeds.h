#pragma once
// The seed certificates of the Wine certificate fuzzer, compiled in from
// fuzz/corpus/wine_certificate/*.der (see CMakeLists.txt beside this file).
#include <cstddef>

namespace wine_fuzz {

struct seed_file {
    const char* name;
    const unsigned char* data;
    std::size_t size;
};

extern const seed_file seed_files[];
extern const std::size_t seed_file_count;

}  // namespace wine_fuzz
