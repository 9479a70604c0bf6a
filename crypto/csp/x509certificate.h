#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <boost/property_tree/ptree.hpp>

#include "crypto/byte_vector.h"

namespace crypto::csp {

// A certificate and where its private key lives. Owns its certificate context
// (which may be null). The token back ends derive from it and say where their
// keys live; everything is handed around as shared pointers.
class x509certificate {
public:
    // Takes ownership of context (may be null).
    explicit x509certificate(PCCERT_CONTEXT context);
    virtual ~x509certificate();
    x509certificate(const x509certificate&) = delete;
    x509certificate& operator=(const x509certificate&) = delete;

    virtual bool is_hardware() const;
    virtual const char* carrier_type() const;
    // The key container name of the key-provider information; "" when none.
    virtual std::string container() const;
    // The smart-card reader of the key container; "" when anything fails.
    virtual std::string reader() const;
    virtual bool has_private_key() const;
    // CERT_KEY_SPEC_PROP_ID, or the key-provider information's key spec when
    // the certificate has no such property; 0 when neither is there.
    virtual std::uint32_t key_spec() const;

    bool has_client_auth_usage() const;
    // The serial number as upper-case hex, most significant byte first.
    std::string serial_number() const;
    // True unless now lies strictly between NotBefore and NotAfter.
    bool is_outside_validity() const;
    bool is_outside_validity_at(const FILETIME& now) const;
    // Upper-case hex SHA-1 of the DER encoding.
    std::string thumbprint() const;
    // The certificate_description object of the certificate commands.
    boost::property_tree::ptree to_ptree() const;

    PCCERT_CONTEXT context() const { return context_; }
    // The DER encoding; empty without a context.
    byte_vector encoded() const;
    // The OID of the certificate's own signature algorithm; "" without a context.
    std::string signature_oid() const;
    // The CERT_KEY_PROV_INFO_PROP_ID property as a buffer holding a
    // CRYPT_KEY_PROV_INFO; empty when absent (error gets the reason's code).
    std::vector<BYTE> key_provider_info(DWORD* error = nullptr) const;

private:
    PCCERT_CONTEXT context_;
};

using certificate_ptr = std::shared_ptr<x509certificate>;

// "%d-%02d-%02dT%02d:%02d:%02d" of a UTC time, without milliseconds or zone.
std::string format_system_time(const SYSTEMTIME& time);

// CertCreateCertificateContext for certificate bytes from a page, a token or a
// device: bytes that do not read as DER, or hold a BIT STRING the system's
// decoder cannot take safely (crypto/util/der_check.h), are refused the way
// the decoder refuses such data (null, last error CRYPT_E_ASN1_EOD when they
// end early, CRYPT_E_ASN1_CORRUPT otherwise). The context holds the first
// element alone: bytes after it are no part of the certificate.
PCCERT_CONTEXT create_certificate_context(DWORD encoding, const BYTE* data, DWORD size);

// A certificate from DER bytes: no bytes give a certificate without a context,
// bytes that are not a certificate as well.
certificate_ptr make_certificate(const byte_vector& der);

}  // namespace crypto::csp
