#pragma once
#include <map>
#include <string>

#include "crypto/pkcs11/connector.h"

namespace crypto::pkcs11 {

// Family key -> the loaded module that serves it, ordered by key ("esmart",
// "jacarta", "rutoken_ecp"). Empty until the first PKCS#11 operation; a family
// whose module did not load has no entry. Destroyed at exit, which finalises
// and unloads the modules that nothing else still uses.
using module_registry = std::map<std::string, connector>;
module_registry& pkcs11_module_registry();

// Builds a connector for each row of the module table, in table order, and
// registers those that loaded; an entry already present stays. Callers run it
// only while the registry is empty.
void load_pkcs11_modules();

// What every PKCS#11 operation starts with: loads the modules when none is
// registered yet (so all three are tried again as long as none loaded), then
// gives a copy of the registry. Guarded, so that two threads of one process
// neither load the modules twice nor read the registry while it is filled.
module_registry loaded_pkcs11_modules();

}  // namespace crypto::pkcs11
