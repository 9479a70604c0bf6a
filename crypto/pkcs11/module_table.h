#pragma once
#include <string>
#include <utility>
#include <vector>

namespace crypto::pkcs11 {

// Token family key -> PKCS#11 module file, in the order the modules are loaded.
// Families known by ATR only ("rutoken", "etoken") have no module.
using module_row = std::pair<std::string, std::string>;
const std::vector<module_row>& pkcs11_module_table();

}  // namespace crypto::pkcs11
