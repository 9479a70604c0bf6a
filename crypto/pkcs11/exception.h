#pragma once
#include <cstdint>
#include <exception>
#include <string>

namespace crypto::pkcs11 {

// A PKCS#11 function that returned something other than CKR_OK:
// "PKCS#11 error, code = 0xXXXXXXXX".
class exception : public std::exception {
public:
    explicit exception(unsigned long rv);

    const char* what() const noexcept override;
    std::uint32_t code() const { return code_; }

private:
    std::string message_;
    std::uint32_t code_;
};

}  // namespace crypto::pkcs11
