#pragma once
// Helpers of the GOST stand-in tests: running the fixture tool, opening the
// stand-in's providers and containers, and small CryptoAPI conveniences.
#include <cstdint>
#include <string>
#include <vector>

#include "common/capi_handles.h"
#include "common/gost_families.h"

namespace gost_test {

using gost_standin::bytes;
using gost_standin::key_family;

struct process_result {
    DWORD exit_code = 0;
    std::string out;
    std::string err;
};

// Runs gost_csp_fixture.exe (beside the test program) and waits for it.
process_result run_fixture(const std::vector<std::string>& arguments);

// A container name no other test of any run in this prefix uses.
std::string unique_name(const std::string& stem);

// The three families, for parameterised tests.
std::vector<const key_family*> families();

// CryptAcquireContextW on the family's provider (NULL container when empty).
// Returns false and leaves the last error when the acquire fails.
bool try_acquire(gost_standin::provider_handle& out, const key_family& family, const std::string& container,
                 DWORD flags);
gost_standin::provider_handle acquire(const key_family& family, const std::string& container, DWORD flags);
void set_pin(HCRYPTPROV provider, const std::string& pin);

// A new container holding one key pair of the given spec.
void make_container(const key_family& family, const std::string& name, DWORD spec, const std::string& pin = "");

// A hash object of the family's algorithm holding the value.
gost_standin::hash_handle hash_with_value(HCRYPTPROV provider, const key_family& family, const bytes& value);
// CryptSignHashW; returns false and leaves the last error on failure.
bool try_sign(HCRYPTHASH hash, DWORD spec, bytes& signature);

// The public-key blob of a container's user key (AT_KEYEXCHANGE, else AT_SIGNATURE).
bytes public_blob(const key_family& family, const std::string& container);

// Whether the signature verifies for the hash value under the public-key blob,
// checked in a verification context.
bool verifies(const key_family& family, const bytes& public_key_blob, const bytes& hash_value,
              const bytes& signature);

bytes make_bytes(std::size_t count, std::uint8_t first);

// Sets an environment variable for the test's lifetime in this process.
class scoped_environment {
public:
    scoped_environment(const char* name, const std::string& value);
    ~scoped_environment();
    scoped_environment(const scoped_environment&) = delete;
    scoped_environment& operator=(const scoped_environment&) = delete;

private:
    std::string name_;
    bool had_value_ = false;
    std::string old_value_;
};

}  // namespace gost_test
