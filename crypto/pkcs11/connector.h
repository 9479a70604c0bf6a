#pragma once
#include <memory>
#include <string>
#include <vector>

#include "crypto/pkcs11/cryptoki.h"

namespace crypto::pkcs11 {

class slot;

// A module's function list, shared by everything made from the module. When
// the last share goes, the module is finalised and unloaded.
using function_list = std::shared_ptr<CK_FUNCTION_LIST>;

// One PKCS#11 module, loaded by file name from the folders of
// load_module_file (never the current directory) and initialised without
// threading arguments; empty when any step failed (a module whose function
// list is not version 2 or lacks an entry the system calls, and a module
// that another user already initialised, count as failed).
class connector {
public:
    connector() = default;
    explicit connector(const std::string& module_file);

    explicit operator bool() const { return static_cast<bool>(functions_); }
    const function_list& functions() const { return functions_; }

    // The slots with a token present, in the module's order.
    std::vector<slot> slots() const;
    // Those of them whose mechanism list holds CKM_GOSTR3410.
    std::vector<slot> gost_slots() const;

private:
    function_list functions_;
};

// The process is ending: modules still loaded are neither finalised nor freed
// any more, since that would run under the loader lock of a dying process.
void abandon_modules_at_exit();

}  // namespace crypto::pkcs11
