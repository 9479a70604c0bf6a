#pragma once
#include "messages/base_message.h"

// The command classes, one .cpp each, named after the command's wire name.
namespace messages {

#define KELVORA_COMMAND(name)                                              \
    class name : public base_message {                                     \
    public:                                                                \
        command_result execute(const json_tree& arguments) const override; \
    }

KELVORA_COMMAND(version);         // "Version"
KELVORA_COMMAND(version_ex);      // "VersionEx"
KELVORA_COMMAND(compute_hash);    // "ComputeHash"
KELVORA_COMMAND(encrypt_pin);     // "EncryptPin"
KELVORA_COMMAND(decrypt_pin);     // "TryDecryptPin"

#ifdef _WIN32
// Commands over the CryptoAPI back end and the certificate lookup.
KELVORA_COMMAND(sign_hash);                // "SignHash"
KELVORA_COMMAND(sign_cms);                 // "SignCms"
KELVORA_COMMAND(decrypt);                  // "Decrypt"
KELVORA_COMMAND(sign_hash_array);          // "SignHashArray"
KELVORA_COMMAND(try_context);              // "TryWithoutPin"
KELVORA_COMMAND(certificate_from_base64);  // "CertificateFromBase64"
KELVORA_COMMAND(certificate_to_base64);    // "CertificateToBase64"
KELVORA_COMMAND(certificates_list);        // "CertificatesList"
KELVORA_COMMAND(find_certificate);         // "FindCertificate"
// Commands over the providers, the PC/SC readers and the token modules.
KELVORA_COMMAND(providers_list);           // "ProvidersList"
KELVORA_COMMAND(find_container);           // "FindContainer"
KELVORA_COMMAND(smartcard_list);           // "SmartcardList"
KELVORA_COMMAND(display_certificate);      // "SerializeCertificate"
KELVORA_COMMAND(create_request);           // "CreateRequest"
KELVORA_COMMAND(write_certificate);        // "WriteCertificate"
#endif

#undef KELVORA_COMMAND

// The product version reported by Version and VersionEx.
constexpr const char* product_version = "2.1.0102";

}  // namespace messages
