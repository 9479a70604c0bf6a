#include "crypto/csp/hash_handle.h"

#include <utility>

#include "crypto/csp/provider_sizes.h"
#include "crypto/csp/win32_exception.h"

namespace crypto::csp {
namespace {

bool retry_as_signature_key(std::uint32_t key_spec)
{
    return GetLastError() == static_cast<DWORD>(NTE_BAD_KEYSET) && key_spec == AT_KEYEXCHANGE;
}

// CryptSignHashW with the key of key_spec, in the form read_sized calls.
auto sign_call(HCRYPTHASH hash, std::uint32_t key_spec)
{
    return [hash, key_spec](BYTE* data, DWORD* length) {
        return CryptSignHashW(hash, key_spec, nullptr, 0, data, length) != FALSE;
    };
}

bool signature_size(HCRYPTHASH hash, std::uint32_t key_spec, DWORD& length)
{
    length = 0;
    return sign_call(hash, key_spec)(nullptr, &length);
}

bool probe(HCRYPTHASH hash, std::uint32_t key_spec, std::size_t expected_size)
{
    byte_vector signature;
    return read_sized(sign_call(hash, key_spec), signature) == sized_read::done && signature.size() == expected_size;
}

}  // namespace

hash_handle hash_handle::make(HCRYPTPROV provider, std::uint32_t alg_id, const byte_vector& value)
{
    HCRYPTHASH handle = 0;
    if (value.empty() || !CryptCreateHash(provider, alg_id, 0, 0, &handle))
        return hash_handle();
    // The provider reads as many bytes as its digest has; callers hand over
    // exactly as many as the algorithm's digest, so a provider whose digest
    // has another length is refused before it reads past them, and a refused
    // value must not be signed.
    DWORD digest_size = 0;
    DWORD length = sizeof(digest_size);
    bool usable = CryptGetHashParam(handle, HP_HASHSIZE, reinterpret_cast<BYTE*>(&digest_size), &length, 0) != FALSE;
    if (usable && digest_size != value.size()) {
        SetLastError(static_cast<DWORD>(NTE_BAD_HASH));
        usable = false;
    }
    if (!usable || !CryptSetHashParam(handle, HP_HASHVAL, value.data(), 0)) {
        const DWORD error = GetLastError();
        CryptDestroyHash(handle);
        SetLastError(error);
        return hash_handle();
    }
    return hash_handle(handle);
}

hash_handle::hash_handle(hash_handle&& other) noexcept : handle_(std::exchange(other.handle_, 0)) {}

hash_handle::~hash_handle()
{
    if (handle_)
        CryptDestroyHash(handle_);
}

byte_vector hash_handle::sign(std::uint32_t key_spec, std::size_t expected_size) const
{
    DWORD size = 0;
    if (!signature_size(handle_, key_spec, size)) {
        if (!retry_as_signature_key(key_spec))
            throw win32_exception();
        key_spec = AT_SIGNATURE;
        if (!signature_size(handle_, key_spec, size))
            throw win32_exception();
    }
    byte_vector signature;
    const sized_read outcome = read_announced(sign_call(handle_, key_spec), size, signature);
    if (outcome == sized_read::oversized)
        throw invalid_signature_length(expected_size, size);
    if (outcome == sized_read::failed)
        throw win32_exception();
    if (signature.size() != expected_size)
        throw invalid_signature_length(expected_size, signature.size());
    return signature;
}

bool hash_handle::can_sign(std::uint32_t key_spec, std::size_t expected_size) const
{
    if (probe(handle_, key_spec, expected_size))
        return true;
    return retry_as_signature_key(key_spec) && probe(handle_, AT_SIGNATURE, expected_size);
}

}  // namespace crypto::csp
