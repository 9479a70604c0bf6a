#include "messages/command_table.h"

#include "messages/commands.h"

namespace messages {

std::vector<command_row> make_commands()
{
    std::vector<command_row> rows;
    auto add = [&rows](const char* name, base_message* command) {
        rows.emplace_back(name, std::unique_ptr<base_message>(command));
    };
    add("Version", new version);
    add("VersionEx", new version_ex);
    add("ComputeHash", new compute_hash);
#ifdef _WIN32
    add("SignHash", new sign_hash);
    add("SignCms", new sign_cms);
    add("Decrypt", new decrypt);
    add("SignHashArray", new sign_hash_array);
    add("ProvidersList", new providers_list);
    add("FindContainer", new find_container);
    add("TryWithoutPin", new try_context);
#endif
    add("EncryptPin", new encrypt_pin);
    add("TryDecryptPin", new decrypt_pin);
#ifdef _WIN32
    add("CertificateFromBase64", new certificate_from_base64);
    add("CertificateToBase64", new certificate_to_base64);
    add("CertificatesList", new certificates_list);
    add("FindCertificate", new find_certificate);
    add("SerializeCertificate", new display_certificate);
    add("SmartcardList", new smartcard_list);
    add("CreateRequest", new create_request);
    add("WriteCertificate", new write_certificate);
#endif
    return rows;
}

}  // namespace messages
