#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <memory>

#include "crypto/byte_vector.h"

namespace crypto::csp {

class context;
class x509certificate;
struct ephemeral_key_info;
struct session_key_info;

// A key inside a provider context. The context is borrowed and must outlive
// the key; the key handle is owned.
class key {
public:
    // The certificate's public key imported into the context (handle 0 when
    // the import fails).
    key(const context& owner, const std::shared_ptr<x509certificate>& certificate);
    // The container's own key pair: the key-exchange key, else the signature
    // key; handle 0 when there is neither.
    explicit key(const context& owner);
    key(key&& other) noexcept;
    key& operator=(key&&) = delete;
    key(const key&) = delete;
    key& operator=(const key&) = delete;
    virtual ~key();

    HCRYPTKEY handle() const { return handle_; }

    // KP_ALGID = CALG_PRO_EXPORT, for exporting a key wrapped under this one.
    void set_export_algorithm();
    // Imports with this key as the import key, into the same context.
    key import_public_key(const ephemeral_key_info& info) const;
    key import_session_key(const session_key_info& info) const;
    key import_blob(const byte_vector& blob) const;

private:
    key(const context& owner, HCRYPTKEY handle) : context_(&owner), handle_(handle) {}
    key import(const byte_vector& blob, DWORD flags) const;

    const context* context_;
    HCRYPTKEY handle_ = 0;
};

}  // namespace crypto::csp
