#include "crypto/csp/hash_handle.h"

#include <utility>

#include "crypto/csp/win32_exception.h"

namespace crypto::csp {
namespace {

bool retry_as_signature_key(std::uint32_t key_spec)
{
    return GetLastError() == static_cast<DWORD>(NTE_BAD_KEYSET) && key_spec == AT_KEYEXCHANGE;
}

bool signature_size(HCRYPTHASH hash, std::uint32_t key_spec, DWORD& length)
{
    length = 0;
    return CryptSignHashW(hash, key_spec, nullptr, 0, nullptr, &length) != FALSE;
}

bool probe(HCRYPTHASH hash, std::uint32_t key_spec)
{
    DWORD length = 0;
    if (!signature_size(hash, key_spec, length))
        return false;
    byte_vector buffer(length, 0);
    return CryptSignHashW(hash, key_spec, nullptr, 0, buffer.data(), &length) != FALSE;
}

}  // namespace

hash_handle hash_handle::make(HCRYPTPROV provider, std::uint32_t alg_id, const byte_vector& value)
{
    HCRYPTHASH handle = 0;
    if (value.empty() || !CryptCreateHash(provider, alg_id, 0, 0, &handle))
        return hash_handle();
    // The provider reads as many bytes as its digest has; callers hand over
    // exactly that many, and a refused value must not be signed.
    if (!CryptSetHashParam(handle, HP_HASHVAL, value.data(), 0)) {
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

byte_vector hash_handle::sign(std::uint32_t key_spec) const
{
    DWORD length = 0;
    if (!signature_size(handle_, key_spec, length)) {
        if (!retry_as_signature_key(key_spec))
            throw win32_exception();
        key_spec = AT_SIGNATURE;
        if (!signature_size(handle_, key_spec, length))
            throw win32_exception();
    }
    byte_vector signature(length, 0);
    if (!CryptSignHashW(handle_, key_spec, nullptr, 0, signature.data(), &length))
        throw win32_exception();
    signature.resize(length);
    return signature;
}

bool hash_handle::can_sign(std::uint32_t key_spec) const
{
    if (probe(handle_, key_spec))
        return true;
    return retry_as_signature_key(key_spec) && probe(handle_, AT_SIGNATURE);
}

}  // namespace crypto::csp
