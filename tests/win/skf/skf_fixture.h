#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "crypto/byte_vector.h"
#include "test_certificates.h"

// The test SKF library in a test's Wine prefix: installing it (or its
// variant without SKF_RSAVerify) at the system's fixed path, describing its
// devices, reading its call log, and the certificates to put on it.
namespace skf_test {

// Copies dll_name from beside the test program to the fixed library path.
void install_library(const char* dll_name = "kelvora_test_skf.dll");
void remove_library();
// Whether the library at the fixed path is loaded in this process.
bool library_loaded();

// A description file, named to the library through its variable while this
// object lives, with a log file that the library appends to.
class devices {
public:
    explicit devices(const std::string& text);
    ~devices();
    devices(const devices&) = delete;
    devices& operator=(const devices&) = delete;

    // The log lines written so far, each split at its tabs.
    std::vector<std::vector<std::string>> log() const;
    // The function names of the log lines (and "load" / "unload"), in order.
    std::vector<std::string> calls() const;
    void clear_log() const;

private:
    std::string description_path_;
    std::string log_path_;
};

// A certificate (DER) of a fresh RSA key, not put into any store.
struct certificate {
    std::string thumbprint;
    crypto::byte_vector der;
};
certificate make_certificate(const std::wstring& subject, const char* signature_oid = "1.2.840.113549.1.1.11",
                             bool placeholder_signature = false);

// "certificate <base64>" for a description.
std::string certificate_line(const certificate& made);

// What the library signed, recovered from a signature the system returned
// (reversed): the data under the PKCS#1 type-1 padding, for the container at
// path; empty when the block is not such a block.
crypto::byte_vector signed_data(const std::string& container_path, const crypto::byte_vector& signature);

// The PKCS#1 DigestInfo prefix of SHA-256 / 384 / 512, written out.
crypto::byte_vector digest_info_prefix(int hash_size);

crypto::byte_vector bytes_of(const std::string& hex);

}  // namespace skf_test
