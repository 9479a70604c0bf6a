#pragma once
// The provider's objects (contexts, keys, hashes), the handle tables that map
// the handles advapi32 holds to them, and the rules shared by the entry points.
#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/gost_families.h"
#include "container_store.h"

namespace gost_standin {

using bytes = std::vector<std::uint8_t>;

// Thrown inside the provider; the entry point turns it into SetLastError.
struct csp_error {
    template <typename Code>
    explicit csp_error(Code value) : code(static_cast<DWORD>(value)) {}
    DWORD code;
};

struct context {
    const key_family* family = nullptr;  // the provider type's own family
    DWORD provider_type = 0;
    std::string provider_name;
    bool verify_only = false;
    bool silent = false;
    bool has_container = false;
    bool created_here = false;
    container_record container;  // snapshot, refreshed after changes
    bool pin_given = false;
    std::string pin;
    std::size_t next_algorithm = 0;
    std::vector<std::string> container_names;
    std::size_t next_container = 0;
};

enum class key_kind { container_pair, ephemeral_pair, public_key, agreement, session };

struct key_object {
    HCRYPTPROV owner = 0;
    key_kind kind = key_kind::session;
    const key_family* family = nullptr;  // pairs and public keys
    ALG_ID alg = 0;
    DWORD spec = 0;  // container pairs: AT_KEYEXCHANGE / AT_SIGNATURE
    bytes private_key;
    bytes public_key;
    bytes parameters;  // public-key parameters, or the cipher parameters of a session key
    bytes secret;      // agreement and session keys
    bool exportable = false;
    bytes exported_blob;  // container pairs: a PUBLICKEYBLOB given in the state file
};

struct hash_object {
    HCRYPTPROV owner = 0;
    ALG_ID alg = 0;
    bytes data;
    bool finished = false;
    bytes value;
};

class object_tables {
public:
    static object_tables& instance();
    std::mutex& mutex() { return mutex_; }

    HCRYPTPROV add(std::unique_ptr<context> ctx);
    HCRYPTKEY add(std::unique_ptr<key_object> key);
    HCRYPTHASH add(std::unique_ptr<hash_object> hash);

    context& get_context(HCRYPTPROV handle);
    key_object& get_key(HCRYPTPROV owner, HCRYPTKEY handle);
    hash_object& get_hash(HCRYPTPROV owner, HCRYPTHASH handle);

    void remove_context(HCRYPTPROV handle);  // also drops its keys and hashes
    void remove_key(HCRYPTPROV owner, HCRYPTKEY handle);
    void remove_hash(HCRYPTPROV owner, HCRYPTHASH handle);

private:
    std::mutex mutex_;
    ULONG_PTR next_ = 1;
    std::map<ULONG_PTR, std::unique_ptr<context>> contexts_;
    std::map<ULONG_PTR, std::unique_ptr<key_object>> keys_;
    std::map<ULONG_PTR, std::unique_ptr<hash_object>> hashes_;
};

// Runs body under the table lock; returns TRUE, or FALSE with the error set.
template <typename Body>
BOOL guarded(Body&& body)
{
    DWORD code = NTE_FAIL;
    try {
        std::lock_guard<std::mutex> lock(object_tables::instance().mutex());
        body();
        return TRUE;
    } catch (const csp_error& e) {
        code = e.code;
    } catch (const std::bad_alloc&) {
        code = NTE_NO_MEMORY;
    } catch (...) {
        code = NTE_FAIL;
    }
    SetLastError(code);
    return FALSE;
}

// Copies a value out by the CryptoAPI size-query rules.
void copy_out(const void* data, std::size_t size, BYTE* buffer, DWORD* length);
void copy_out_string(const std::string& text, BYTE* buffer, DWORD* length);

// Access to the container's private keys: checks the PIN the context holds,
// refuses a prompt in a silent context and simulates the PIN dialog otherwise.
void authorize_private_use(context& ctx);

// Whether the provider type lists the algorithm, and its enumeration table.
struct algorithm_info {
    ALG_ID alg;
    DWORD bits;
    const char* name;
    const char* long_name;
    DWORD lowest_type;  // listed by provider types >= this (75 < 80 < 81)
};
const std::vector<algorithm_info>& algorithm_table();
bool provider_supports(const context& ctx, ALG_ID alg);

std::string unique_container_name(const container_record& record);
bytes random_bytes(std::size_t count);

}  // namespace gost_standin
