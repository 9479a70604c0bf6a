#pragma once
// The DER pieces of a PKCS#10 certificate request, written byte for byte as
// CryptoAPI's CryptEncodeObject (X509_ASN_ENCODING | PKCS_7_ASN_ENCODING)
// writes the structures named beside each encoder, without CryptoAPI: the
// CryptoAPI request builder and the token request builder share them.
//
// Every encoder returns a new encoded_blob, or null when it failed or had no
// input, and writes a code through the optional pointer: 0 on success, the
// CryptoAPI error code of a failed encoding (the CRYPT_E_* values below), or
// the encoder's own code for a missing input. Nothing throws, except
// encode_subject_key_id ("Fatal error!" for a key without bits).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crypto/byte_vector.h"
#include "crypto/encoding/text.h"

namespace crypto {
namespace util {

// CryptoAPI's codes for values an encoding refuses.
constexpr std::int32_t crypt_e_invalid_numeric_string = static_cast<std::int32_t>(0x80092020u);
constexpr std::int32_t crypt_e_invalid_printable_string = static_cast<std::int32_t>(0x80092021u);
constexpr std::int32_t crypt_e_invalid_ia5_string = static_cast<std::int32_t>(0x80092022u);
// An object identifier that is not a dotted OID.
constexpr std::int32_t crypt_e_asn1_error = static_cast<std::int32_t>(0x80093100u);

// An owned DER byte buffer and its length.
struct encoded_blob {
    std::unique_ptr<std::uint8_t[]> data;
    std::uint32_t length = 0;

    encoded_blob() = default;
    explicit encoded_blob(const byte_vector& bytes);
    byte_vector bytes() const;
};
using blob_ptr = std::unique_ptr<encoded_blob>;

// The subject alternative names of a request: DNS names in request order and
// a user principal name (empty for none).
struct subject_alt_name {
    std::vector<std::string> dns;
    std::string upn;
};

// One subject attribute: the key as written (meant to be a dotted OID) and
// the UTF-16 value without terminator, value_length in bytes.
struct rdnValue {
    char* key = nullptr;
    wide_char* value = nullptr;
    std::uint32_t value_length = 0;

    rdnValue() = default;
    rdnValue(const rdnValue&) = delete;
    rdnValue& operator=(const rdnValue&) = delete;
    ~rdnValue();
};
using rdn_list = std::vector<std::shared_ptr<rdnValue>>;

// The public key of a request as CERT_PUBLIC_KEY_INFO holds it: algorithm
// OID, its DER parameters (empty for none) and the subjectPublicKey bits.
struct public_key_info {
    std::string algorithm;
    byte_vector parameters;
    byte_vector key;
    std::uint8_t unused_bits = 0;
};

// Splits text at "," (a comma between double quotes does not split, a doubled
// quote is an escaped quote; the quotes stay in the token), as
// wide_tokenizer does on 16-bit text.
class text_tokenizer {
public:
    explicit text_tokenizer(const char* text);
    const char* next();

private:
    std::string text_;
    bool valid_;
    bool started_ = false;
    bool inside_quotes_ = false;
    std::size_t position_ = 0;
};

// "key=value,key=value": one entry per token holding "=", key and value
// trimmed, the value's quotes resolved.
rdn_list parse_subject_text(const char* text);

// X509_UNICODE_NAME of the subject text. Null text: code -1.
blob_ptr encode_subject(const char* text, std::int32_t* code);
// CRYPT_CSP_PROVIDER: AT_KEYEXCHANGE, the name, an empty signature.
blob_ptr encode_enrollment_csp_provider(const wide_char* provider_name, std::int32_t* code);
// X509_ENHANCED_KEY_USAGE. Null or empty list: code -2.
blob_ptr encode_enhanced_key_usage(const std::vector<std::string>* usages, std::int32_t* code);
// X509_KEY_USAGE of the fixed byte 0xF8.
blob_ptr encode_key_usage(std::int32_t* code);
// SubjectKeyIdentifier: the SHA-1 of the public-key bits. Null: code -1.
blob_ptr encode_subject_key_id(const public_key_info* key, std::int32_t* code);
// CERT_TEMPLATE_EXT, major version 1. Null: code 0.
blob_ptr encode_certificate_template(const char* template_oid, std::int32_t* code);
// CERT_POLICIES_INFO: "KC2" (any case) two policies, anything else one. Null: code 0.
blob_ptr encode_policies(const char* level, std::int32_t* code);
// X509_INTEGER. Null: null, the code left as it was.
blob_ptr encode_integer(const std::int32_t* value, std::int32_t* code);
// CERT_ALT_NAME_INFO: dNSName entries, then an otherName UPN. Null or no
// entries: null, the code left as it was.
blob_ptr encode_subject_alt_name(const subject_alt_name* names, std::int32_t* code);
// DER UTF8String of a text: the value of the signing-tool extension.
blob_ptr encode_signing_tool(const char* text, std::int32_t* code);
// CERT_EXTENSIONS: key usage (critical), EKU, key id, signing tool, then the
// optional ones given. A required one null: code -1.
blob_ptr encode_extensions(const encoded_blob* key_usage, const encoded_blob* enhanced_key_usage,
                           const encoded_blob* subject_key_id, const encoded_blob* signing_tool,
                           const encoded_blob* certificate_template, const encoded_blob* policies,
                           const encoded_blob* identification_kind, const encoded_blob* alt_name,
                           std::int32_t* code);
// CRYPT_ENROLLMENT_NAME_VALUE_PAIR into slot. Any null: false, code -1.
bool encode_name_value_pair(const wide_char* name, const wide_char* value, encoded_blob* slot, std::int32_t* code);

// The name-value slots of the wished validity and their count.
struct validity_slots {
    std::unique_ptr<encoded_blob[]> slots;
    std::uint32_t count = 0;
    // A pair could not be encoded (a date that to_compact_time cannot read):
    // no slots, and the request must not be made.
    bool failed = false;
};
// Start date, then period and unit or the expiration date. No slots (null
// array) when neither a period nor an expiration date is given; failed, with
// the code of the pair that failed (-1 for an unreadable date), when any pair
// cannot be encoded.
validity_slots encode_validity_attributes(const char* start_date, const char* expiration_date, const char* period,
                                          std::int32_t* code);
// X509_CERT_REQUEST_TO_BE_SIGNED: version 0, subject, key, and the attributes
// CSP provider, extension request and (with slots) the name-value pairs.
blob_ptr encode_request_info(const encoded_blob* subject, const encoded_blob* csp_provider,
                             const encoded_blob* extensions, const public_key_info* key, const encoded_blob* slots,
                             std::uint32_t slot_count, std::int32_t* code);
// X509_CERT of the request info, the standard's signature algorithm and the
// signature as CryptoAPI signing returns it (written reversed).
blob_ptr encode_signed_request(int standard, const encoded_blob* request_info, const encoded_blob* signature,
                               std::int32_t* code);
// The signature algorithm OID of a crypto standard (0, 1, 2; others as 0).
const char* signature_algorithm_oid(int standard);

}  // namespace util
}  // namespace crypto
