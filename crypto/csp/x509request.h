#pragma once
// Certificate requests for new CryptoAPI key containers, and the installation
// of the certificate a certification authority issued for one.
#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crypto/util/request_encoders.h"

namespace crypto::csp {

// One installed GOST provider. family: 1 (CryptoPro CSP types) or 2 (ViPNet CSP types).
struct cryptoProviderData {
    DWORD type = 0;
    std::unique_ptr<wchar_t[]> name;
    std::int32_t version_major = 0;
    std::int32_t version_minor = 0;
    std::int32_t family = 0;
};

// Lives for one command: enumerate_providers first, then the other operations.
// Failures come back as a null result or false with a code; nothing throws
// except the encoders' "Fatal error!".
class x509request {
public:
    x509request() = default;
    virtual ~x509request() = default;
    x509request(const x509request&) = delete;
    x509request& operator=(const x509request&) = delete;

    // Appends the installed GOST providers; true when the list holds any.
    bool enumerate_providers();
    // The first listed provider of the type (null: none).
    const wchar_t* get_provider_name(DWORD type) const;
    // Its family, 0 for none.
    std::int32_t get_provider_family(DWORD type) const;
    // The provider type of a family (0 = automatic) and a crypto standard, or -1.
    std::int32_t get_provider_type(std::int32_t family, std::int32_t standard) const;

    // Creates the container at container_path with a key-exchange key pair and
    // returns the signed PKCS#10 request, or null with the code.
    util::blob_ptr create_request(const wchar_t* provider_name, std::int32_t family, std::int32_t standard,
                                  const char* subject, const std::vector<std::string>* enhanced_key_usage,
                                  bool exportable, const char* start_date, const char* expiration_date,
                                  const char* period, const char* policy_level, const char* template_oid,
                                  const std::int32_t* identification_kind, const util::subject_alt_name* alt_name,
                                  const char* container_path, const char* signing_tool, std::int32_t* code) const;
    // Writes the certificate onto the container's key and, with install, into
    // the user's "MY" store. False with the failing call's code.
    bool write_certificate(std::int32_t family, const char* certificate, const char* container, bool install,
                           std::int32_t* code) const;

private:
    const cryptoProviderData* first_of_family(std::int32_t family) const;
    std::unique_ptr<std::vector<std::shared_ptr<cryptoProviderData>>> providers_;
};

// True when the default provider of the type lists a container of that name
// (ASCII letters compared without case).
bool container_exists(DWORD type, const char* name);
// 0, 1 or 2 by the certificate's signature algorithm; -1 otherwise or unreadable.
std::int32_t detect_certificate_standard(const char* certificate);
// Adds the certificate to the user's "MY" store with the provider's container
// as its key; true when both steps succeeded.
bool add_certificate_to_store(HCRYPTPROV provider, PCCERT_CONTEXT certificate);

}  // namespace crypto::csp
