#include "crypto/pkcs11/exception.h"

#include "crypto/encoding/hex.h"

namespace crypto::pkcs11 {

exception::exception(unsigned long rv)
    : message_("PKCS#11 error, code = " + format_hex32(static_cast<std::int32_t>(static_cast<std::uint32_t>(rv)))),
      code_(static_cast<std::uint32_t>(rv))
{
}

const char* exception::what() const noexcept
{
    return message_.c_str();
}

}  // namespace crypto::pkcs11
