#pragma once
#include <memory>
#include <optional>
#include <string>

#include "crypto/byte_vector.h"
#include "crypto/signature_algorithm.h"
#include "crypto/skf/handles.h"

namespace crypto::skf {

class SkfModule;
class x509certificate;

// The device session of one signing call: the certificate's device connected,
// its application opened, the PIN verified and its container opened, in that
// order. A step that fails throws std::runtime_error with its text after the
// steps before it are undone; the session closes the container, the
// application and the device, in that order, when it goes.
class signing_session {
public:
    signing_session(const x509certificate& certificate, const std::string& pin);
    signing_session(const signing_session&) = delete;
    signing_session& operator=(const signing_session&) = delete;

    // The library's signature of hash with its bytes reversed; empty when the
    // library gives none.
    byte_vector sign(const byte_vector& hash) const;

private:
    std::shared_ptr<SkfModule> module_;
    std::optional<device_connection> device_;
    std::optional<application_session> application_;
    std::optional<container_session> container_;
};

// The certificate as an SKF certificate with its library; throws
// std::runtime_error "Invalid SKF session" for any other certificate.
const x509certificate& require_skf_certificate(const certificate_ptr& certificate);

}  // namespace crypto::skf
