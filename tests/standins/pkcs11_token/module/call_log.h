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
// "0x" and upper-case hex digits.
std::string number_text(unsigned long value);
// The name of an attribute type the log spells out, else its number_text.
std::string attribute_text(unsigned long type);
// " NAME=<hex>" for each attribute of a template, in the template's order.
std::string template_text(const void* attributes, unsigned long count);

}  // namespace pkcs11_standin
