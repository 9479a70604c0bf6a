#pragma once
// Certificate requests on a PKCS#11 token: the back end of CreateRequestHW
// and WriteCertificateHW. One object serves one command: select the module
// of the token's family, open a read-write session on the token with the
// given serial number, log in, generate a GOST key pair on the token and
// build a PKCS#10 request that the token signs, or write the issued
// certificate beside the key pair. The key pair and the certificate carry the
// container name as CKA_ID and CKA_LABEL.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crypto/byte_vector.h"
#include "crypto/pkcs11/connector.h"
#include "crypto/pkcs11/cryptoki.h"
#include "crypto/util/request_encoders.h"

namespace crypto::pkcs11 {

class session;

class x509request {
public:
    x509request() = default;
    // Drops the session: the last share logs out when still logged in and closes it.
    virtual ~x509request();
    x509request(const x509request&) = delete;
    x509request& operator=(const x509request&) = delete;

    // The loaded module that serves the family ("rutoken_ecp", "jacarta",
    // "esmart"); loads the modules first when none is loaded. False for a null
    // key, a family without a module or a module without a function list.
    bool select_module(const char* family_key);
    // Opens a read-write session on the first token (in the module's slot
    // order) that signs GOST R 34.10-2012 with on-token hashing and whose
    // serial number, without trailing blanks and control characters, equals
    // serial. Token failures throw crypto::pkcs11::exception.
    bool open_token_session(const std::string& serial);
    // A public-key or certificate object with CKA_ID = name is on the token.
    // Token failures throw crypto::pkcs11::exception.
    bool has_public_key(const char* name);
    bool has_certificate(const char* name);
    // C_Login as the user; a refused login gives false.
    bool login(const std::string& pin);
    // C_Logout, whatever the token answers.
    void logout();

    // Generates a key pair of the standard (0 = GOST R 34.10-2001, 1 and 2 =
    // GOST R 34.10-2012 with 256 and 512 bits, any other as 0) under the
    // name and returns the DER PKCS#10 request for it, signed on the token,
    // or null. The optional texts may be null; error_code (when given)
    // receives 0 for a failed key generation or public-key read, -1 for a
    // family without a signing-tool text and no text given, the encoders'
    // codes otherwise. A token failure while the signing tool is chosen
    // throws crypto::pkcs11::exception; a key without bits "Fatal error!".
    util::blob_ptr create_request(int standard, const char* subject, const std::vector<std::string>* usages,
                                  const char* start_date, const char* expiration_date, const char* period,
                                  const char* policy_level, const char* template_oid,
                                  const std::uint32_t* identification_kind, const util::subject_alt_name* alt_name,
                                  const char* name, const char* signing_tool, std::int32_t* error_code);

    // Generates the standard's key pair on the token under the name; the
    // objects stay on the token whatever happens later.
    bool generate_key_pair(int standard, const char* name, CK_OBJECT_HANDLE& public_key,
                           CK_OBJECT_HANDLE& private_key);
    // The token's signature of the request body, the token hashing it, with
    // the order of its bytes reversed; empty when the token refuses or needs
    // more than 256 bytes.
    byte_vector sign_request(int standard, const byte_vector& body, CK_OBJECT_HANDLE private_key);

    // Decodes the certificate (base64 with or without headers, or binary)
    // and creates a certificate object with CKA_ID = CKA_LABEL = name.
    // error_code (when given) receives -1 on success and on a missing
    // session or argument, the system's last error for a text or certificate
    // that does not decode, and the token's code when it refuses the object.
    bool write_certificate(const char* name, const char* certificate, std::int32_t* error_code);

    // The token's model, a blank and its serial number, once a session is open.
    const std::string& token_text() const { return token_text_; }
    const std::string& family_key() const { return family_key_; }

    // The public key of a generated pair as the request carries it: CKA_VALUE
    // (at most 1024 bytes) as an OCTET STRING, and the key's parameter set
    // (at most 64 bytes) with the standard's digest parameters. False when the
    // token does not give either within those bounds.
    bool read_public_key(int standard, CK_OBJECT_HANDLE public_key, util::public_key_info& info);

private:
    util::blob_ptr build_request(int standard, const char* subject, const std::vector<std::string>* usages,
                                 const char* start_date, const char* expiration_date, const char* period,
                                 const char* policy_level, const char* template_oid,
                                 const std::uint32_t* identification_kind, const util::subject_alt_name* alt_name,
                                 const char* name, const char* signing_tool, std::int32_t& code);
    // The value of the request's signing-tool extension for the token family,
    // or null for a family without one.
    const char* family_signing_tool();
    bool has_object(const char* name, bool certificate);

    connector connector_;
    std::shared_ptr<session> session_;
    std::string family_key_;
    std::string token_text_;
};

}  // namespace crypto::pkcs11
