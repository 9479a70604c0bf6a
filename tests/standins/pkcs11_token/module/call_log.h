#pragma once
// One line per call into the stand-in, appended to the description's "log"
// file: "<module file> <function> <details>". Tests read it to see which
// calls the system made, in which order and with which arguments.
#include <string>

namespace pkcs11_standin {

void set_log(const std::string& module_name, const std::string& path);
void log_call(const std::string& function, const std::string& details = std::string());
// Hex of bytes, upper case.
std::string hex(const void* data, unsigned long length);

}  // namespace pkcs11_standin
