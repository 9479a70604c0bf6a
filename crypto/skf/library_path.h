#pragma once

namespace crypto::skf {

// Where the system loads the SKF device library from (the device vendor's
// GM/T 0016 library, installed under this one fixed name). A literal path,
// so 32-bit and 64-bit builds read the same place.
constexpr const char* library_path = "C:\\Program Files\\Kelvora\\skf\\skf.dll";

}  // namespace crypto::skf
