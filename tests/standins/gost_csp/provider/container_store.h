#pragma once
// Persistent key containers of the stand-in: one text file (the path named by
// KELVORA_GOST_CSP_STATE, else C:\kelvora-gost-csp\containers.txt inside the
// Wine prefix), read and rewritten under an exclusive lock file so that
// several processes of one prefix can use it at once.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace gost_standin {

struct stored_key {
    std::uint32_t spec = 0;  // AT_KEYEXCHANGE or AT_SIGNATURE
    std::uint32_t alg = 0;   // the key pair's ALG_ID
    std::vector<std::uint8_t> private_key;
    std::vector<std::uint8_t> certificate;  // KP_CERTIFICATE, may be empty
    // When set, CryptExportKey(PUBLICKEYBLOB) gives exactly these bytes (a
    // test writes containers with known, or malformed, public-key blobs).
    std::vector<std::uint8_t> exported_blob;
};

struct container_record {
    std::string name;
    std::string reader;  // "" when the container is not on a reader
    std::string pin;     // "" for no PIN
    std::vector<stored_key> keys;

    stored_key* key(std::uint32_t spec);
    const stored_key* key(std::uint32_t spec) const;
};

using container_list = std::vector<container_record>;

class container_store {
public:
    // Loads every container (under the lock).
    static container_list load();
    // Loads, lets change() edit the list, and writes it back when change()
    // returns true; all under the lock. Exceptions of change() pass through.
    static void update(const std::function<bool(container_list&)>& change);

    // Text form, one container per line (exposed for tests of the format).
    static std::string serialize(const container_list& containers);
    static container_list parse(const std::string& text);
};

container_record* find_container(container_list& containers, const std::string& name);

// The bytes of a file; empty when it cannot be opened.
std::string read_file_text(const std::wstring& path);

}  // namespace gost_standin
