#pragma once
#include <cstdint>
#include <exception>
#include <string>

namespace crypto::csp {

// A failed CryptoAPI, certificate-store or encoding call. The text is the
// system's English message for the code (kept with its CR LF) followed by
// "Error code: 0xXXXXXXXX", or "Unknown error" when the system has none.
class win32_exception : public std::exception {
public:
    // Reads the calling thread's last error: construct it right after the
    // failing call.
    win32_exception();
    // For a failure whose code was saved earlier.
    explicit win32_exception(std::uint32_t code);

    const char* what() const noexcept override;
    std::uint32_t code() const { return code_; }

private:
    std::string message_;
    std::uint32_t code_;
};

// The text a win32_exception of code carries.
std::string system_error_text(std::uint32_t code);

}  // namespace crypto::csp
