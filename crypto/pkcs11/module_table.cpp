#include "crypto/pkcs11/module_table.h"

namespace crypto::pkcs11 {
const std::vector<module_row>& pkcs11_module_table()
{
    static const std::vector<module_row> modules = {
        {"rutoken_ecp", "rtPKCS11ECP.dll"},
        {"jacarta", "jcPKCS11-2.dll"},
        {"esmart", "isbc_pkcs11_main.dll"},
    };
    return modules;
}

}  // namespace crypto::pkcs11
