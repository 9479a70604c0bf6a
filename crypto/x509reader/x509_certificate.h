#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <memory>
#include <string>

#include "crypto/byte_vector.h"
#include "crypto/x509reader/text_forms.h"

namespace crypto::x509reader {

// One DER certificate rendered as the viewer's JSON text. Created empty; the
// caller hands it the bytes and then asks it to decode them.
class X509Certificate {
public:
    X509Certificate() = default;
    virtual ~X509Certificate();
    X509Certificate(const X509Certificate&) = delete;
    X509Certificate& operator=(const X509Certificate&) = delete;

    // Takes the DER bytes (at most 4 GiB - 1, as their 32-bit length).
    void set_encoded(byte_vector bytes);
    // Creates the certificate context over the bytes; false when they are not
    // a certificate (the info pointer then stays null).
    bool create_context();

    // A new NUL-terminated UTF-8 JSON text, or null when there is no info.
    std::unique_ptr<char[]> to_json() const;

private:
    const CERT_INFO* info_ = nullptr;
    PCCERT_CONTEXT context_ = nullptr;
    byte_vector encoded_;
    std::uint32_t encoded_length_ = 0;
};

// The texts that need the CryptoAPI to decode.
// "5 марта 2024 г. 07:08:09 UTC" (no zone conversion); null, or a time that
// FileTimeToSystemTime cannot convert, gives the empty text.
std::string format_date_ru(const FILETIME* time);
// The attributes of an encoded name through CertNameToStrW, each value as the
// name holds it (parse_rdn_text with the tags of the name's values); a name
// it cannot render, or whose text does not show each of its attributes,
// gives the empty list.
rdn_list parse_rdn_list(const CERT_NAME_BLOB* name);
// The human-readable Russian text of one extension value; empty when the
// value cannot be decoded.
std::string extension_text(const std::string& oid, const BYTE* value, DWORD length);

}  // namespace crypto::x509reader
