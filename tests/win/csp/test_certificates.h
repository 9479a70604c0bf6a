#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <string>
#include <vector>

// Test certificates made at run time: an RSA key pair in a container of the
// AES provider, a certificate signed with it, and the certificate added to
// the current user's "MY" store with the properties a test asks for.
namespace csp_test {

using bytes = std::vector<BYTE>;

struct certificate_spec {
    // Key container holding the certificate's key; created when missing.
    std::wstring container = L"kelvora-test";
    DWORD key_spec = AT_KEYEXCHANGE;  // the key pair generated (or used)
    DWORD key_bits = 1024;
    // Key-provider information written on the certificate.
    bool key_provider_info = true;
    std::wstring info_container;  // empty: container
    std::wstring info_provider = MS_ENH_RSA_AES_PROV_W;
    DWORD info_provider_type = PROV_RSA_AES;
    long long info_key_spec = -1;  // -1: key_spec
    long long key_spec_property = -1;  // -1: property not written
    std::string signature_oid = "1.2.840.113549.1.1.11";
    // Encode the certificate with 64 placeholder bytes as its signature instead
    // of signing it: for signature OIDs the RSA provider cannot sign with.
    bool placeholder_signature = false;
    std::wstring subject = L"CN=Kelvora Test";
    std::wstring issuer;  // empty: subject
    // Validity relative to now, in seconds.
    long long not_before = -86400;
    long long not_after = 86400 * 365;
    // Extended key usages; no_usage_extension leaves the extension out.
    std::vector<std::string> usages = {"1.3.6.1.5.5.7.3.2"};
    bool no_usage_extension = false;
    bytes serial;  // least significant byte first; empty: eight random bytes
    bool add_to_store = true;
    // Bytes to add to the store as they are, with the key-provider information
    // above, instead of a certificate made here (the key pair is still made).
    bytes der;
};

struct made_certificate {
    std::string thumbprint;  // upper-case hex SHA-1 of der
    bytes der;
    FILETIME not_before{};
    FILETIME not_after{};
    bool key_spec_property_written = false;
};

made_certificate make_certificate(const certificate_spec& spec);

// An encoded name from its text: CertStrToNameW's syntax, or, where that
// refuses (dotted OIDs as keys), "key=value" parts separated by ", ".
bytes encode_name(const std::wstring& name);

// Removes every certificate from the current user's "MY" store.
void clear_personal_store();

// FormatMessageW's English text for code, and the exception text expected for it.
std::string expected_error_text(DWORD code);

std::string hex(const bytes& data);
FILETIME now_plus(long long seconds);

}  // namespace csp_test
