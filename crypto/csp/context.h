#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <memory>
#include <string>

#include "crypto/csp/provider_sizes.h"

namespace crypto::csp {

class x509certificate;

// A provider parameter as text up to its first NUL, into text. A size of 0
// is a failed read and one above the provider limit is not read; text is
// empty for both.
sized_read read_param_text(HCRYPTPROV provider, DWORD param, std::string& text);

// Owns one provider handle (0 = none), released at destruction.
class context {
public:
    context() = default;
    virtual ~context();
    context(const context&) = delete;
    context& operator=(const context&) = delete;

    HCRYPTPROV handle() const { return handle_; }
    // A provider parameter as text up to its first NUL; empty when it cannot be read.
    std::string get_param_string(DWORD param) const;

protected:
    explicit context(HCRYPTPROV handle) : handle_(handle) {}
    HCRYPTPROV handle_ = 0;
};

// A context opened to ask a provider what it supports. Movable.
class verify_context : public context {
public:
    explicit verify_context(HCRYPTPROV handle) : context(handle) {}
    verify_context(verify_context&& other) noexcept;
    verify_context& operator=(verify_context&& other) noexcept;
};

// The key container of a certificate, opened with the user's PIN. Opening
// never throws: a certificate without key-provider information, or a
// container that does not open, leaves the handle 0 and records the code of
// the step that failed, so that the first operation needing the key can
// report it.
class crypt_context : public context {
public:
    crypt_context(const std::shared_ptr<x509certificate>& certificate, const std::string& pin, bool silent);

    bool silent() const { return silent_; }
    // The code of the failed open (0 when it opened or nothing was tried).
    std::uint32_t open_error() const { return open_error_; }
    // Throws win32_exception with the open's own error when there is no handle.
    void require_handle() const;

private:
    bool silent_ = false;
    std::uint32_t open_error_ = 0;
};

}  // namespace crypto::csp
