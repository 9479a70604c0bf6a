// Hash objects (computed by the project's own GOST hashes), signing and
// signature verification.
#include <cstring>

#include "common/gost_standin.h"
#include "cp_entry_points.h"
#include "csp_objects.h"
#include "faults.h"
#include "standin_scheme.h"

using namespace gost_standin;

namespace {

DWORD hash_size(ALG_ID alg) { return alg == calg_gr3411_2012_512 ? 64 : 32; }

// The digest size the provider gives and reads for a hash object. Fault
// "hash-size": that value instead (a provider whose digest is longer than
// the caller's value reads past it).
DWORD announced_hash_size(const hash_object& hash)
{
    DWORD size = hash_size(hash.alg);
    fault("hash-size", object_tables::instance().get_context(hash.owner).provider_type, size, size);
    return size;
}

void finish(hash_object& hash)
{
    if (hash.finished) return;
    hash.value = digest(hash.alg, hash.data);
    hash.data.clear();
    hash.finished = true;
}

void get_hash_param(HCRYPTPROV handle, HCRYPTHASH hhash, DWORD param, BYTE* data, DWORD* length)
{
    hash_object& hash = object_tables::instance().get_hash(handle, hhash);
    switch (param) {
    case HP_ALGID: {
        const DWORD alg = hash.alg;
        return copy_out(&alg, sizeof alg, data, length);
    }
    case HP_HASHSIZE: {
        const DWORD size = announced_hash_size(hash);
        return copy_out(&size, sizeof size, data, length);
    }
    case HP_HASHVAL:
        if (data) finish(hash);
        if (!data) return copy_out(nullptr, hash_size(hash.alg), nullptr, length);
        return copy_out(hash.value.data(), hash.value.size(), data, length);
    default:
        throw csp_error(NTE_BAD_TYPE);
    }
}

// The stored key that signs for a key spec. A key-exchange key also signs
// when a signature key is asked for and the container has none; a signature
// key never stands in for a key-exchange key.
const stored_key& signing_key(const context& ctx, DWORD spec)
{
    if (spec != AT_KEYEXCHANGE && spec != AT_SIGNATURE) throw csp_error(NTE_BAD_ALGID);
    if (!ctx.has_container) throw csp_error(NTE_BAD_KEYSET);
    const stored_key* key = ctx.container.key(spec);
    if (!key && spec == AT_SIGNATURE) key = ctx.container.key(AT_KEYEXCHANGE);
    if (!key) throw csp_error(NTE_BAD_KEYSET);
    return *key;
}

void sign(HCRYPTPROV handle, HCRYPTHASH hhash, DWORD spec, BYTE* signature, DWORD* length)
{
    auto& tables = object_tables::instance();
    context& ctx = tables.get_context(handle);
    hash_object& hash = tables.get_hash(handle, hhash);
    if (!length) throw csp_error(ERROR_INVALID_PARAMETER);
    const stored_key& key = signing_key(ctx, spec);
    const key_family* family = family_by_key_alg(key.alg);
    if (!family || key.private_key.size() != family->private_size) throw csp_error(NTE_BAD_KEYSET);
    if (family->hash_alg != hash.alg) throw csp_error(NTE_BAD_ALGID);
    // Faults "signature-size" and "signature-written".
    if (!signature) return copy_out_faulted("signature", ctx.provider_type, nullptr, family->signature_size, nullptr, length);
    if (*length < family->signature_size) {
        *length = static_cast<DWORD>(family->signature_size);
        throw csp_error(ERROR_MORE_DATA);
    }
    authorize_private_use(ctx);
    finish(hash);
    const bytes value = make_signature(*family, derive_public_key(*family, key.private_key), hash.value);
    copy_out_faulted("signature", ctx.provider_type, value.data(), value.size(), signature, length);
}

void verify(HCRYPTPROV handle, HCRYPTHASH hhash, const BYTE* signature, DWORD size, HCRYPTKEY hkey)
{
    auto& tables = object_tables::instance();
    hash_object& hash = tables.get_hash(handle, hhash);
    const key_object& key = tables.get_key(handle, hkey);
    if (key.public_key.empty() || !key.family) throw csp_error(NTE_BAD_KEY);
    if (key.family->hash_alg != hash.alg) throw csp_error(NTE_BAD_ALGID);
    if (!signature && size) throw csp_error(ERROR_INVALID_PARAMETER);
    finish(hash);
    const bytes expected = make_signature(*key.family, key.public_key, hash.value);
    if (size != expected.size() || std::memcmp(signature, expected.data(), size) != 0)
        throw csp_error(NTE_BAD_SIGNATURE);
}

}  // namespace

KELVORA_CP CPCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags, HCRYPTHASH* phHash)
{
    return guarded([&] {
        if (!phHash) throw csp_error(ERROR_INVALID_PARAMETER);
        auto& tables = object_tables::instance();
        const context& ctx = tables.get_context(hProv);
        if (dwFlags) throw csp_error(NTE_BAD_FLAGS);
        if (hKey) throw csp_error(NTE_BAD_KEY);
        if (!family_by_hash_alg(Algid) || !provider_supports(ctx, Algid)) throw csp_error(NTE_BAD_ALGID);
        auto hash = std::make_unique<hash_object>();
        hash->owner = hProv;
        hash->alg = Algid;
        *phHash = tables.add(std::move(hash));
    });
}

KELVORA_CP CPHashData(HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE* pbData, DWORD cbDataLen, DWORD)
{
    return guarded([&] {
        hash_object& hash = object_tables::instance().get_hash(hProv, hHash);
        if (hash.finished) throw csp_error(NTE_BAD_HASH_STATE);
        if (cbDataLen && !pbData) throw csp_error(ERROR_INVALID_PARAMETER);
        if (cbDataLen) hash.data.insert(hash.data.end(), pbData, pbData + cbDataLen);
    });
}

KELVORA_CP CPHashSessionKey(HCRYPTPROV hProv, HCRYPTHASH hHash, HCRYPTKEY hKey, DWORD)
{
    return guarded([&] {
        auto& tables = object_tables::instance();
        hash_object& hash = tables.get_hash(hProv, hHash);
        const key_object& key = tables.get_key(hProv, hKey);
        if (key.kind != key_kind::session) throw csp_error(NTE_BAD_KEY);
        if (hash.finished) throw csp_error(NTE_BAD_HASH_STATE);
        hash.data.insert(hash.data.end(), key.secret.begin(), key.secret.end());
    });
}

KELVORA_CP CPGetHashParam(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwParam, LPBYTE pbData, LPDWORD pcbDataLen,
                          DWORD)
{
    return guarded([&] { get_hash_param(hProv, hHash, dwParam, pbData, pcbDataLen); });
}

KELVORA_CP CPSetHashParam(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwParam, const BYTE* pbData, DWORD)
{
    return guarded([&] {
        hash_object& hash = object_tables::instance().get_hash(hProv, hHash);
        if (dwParam != HP_HASHVAL) throw csp_error(NTE_BAD_TYPE);
        if (!pbData) throw csp_error(ERROR_INVALID_PARAMETER);
        // The value is exactly one digest long; the caller's buffer must hold it.
        hash.value.assign(pbData, pbData + announced_hash_size(hash));
        hash.data.clear();
        hash.finished = true;
    });
}

KELVORA_CP CPDestroyHash(HCRYPTPROV hProv, HCRYPTHASH hHash)
{
    return guarded([&] { object_tables::instance().remove_hash(hProv, hHash); });
}

KELVORA_CP CPDuplicateHash(HCRYPTPROV hProv, HCRYPTHASH hHash, LPDWORD pdwReserved, DWORD dwFlags,
                           HCRYPTHASH* phHash)
{
    return guarded([&] {
        if (pdwReserved || !phHash) throw csp_error(ERROR_INVALID_PARAMETER);
        if (dwFlags) throw csp_error(NTE_BAD_FLAGS);
        auto& tables = object_tables::instance();
        *phHash = tables.add(std::make_unique<hash_object>(tables.get_hash(hProv, hHash)));
    });
}

KELVORA_CP CPSignHash(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwKeySpec, LPCWSTR, DWORD, LPBYTE pbSignature,
                      LPDWORD pcbSigLen)
{
    return guarded([&] { sign(hProv, hHash, dwKeySpec, pbSignature, pcbSigLen); });
}

KELVORA_CP CPVerifySignature(HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE* pbSignature, DWORD cbSigLen,
                             HCRYPTKEY hPubKey, LPCWSTR, DWORD)
{
    return guarded([&] { verify(hProv, hHash, pbSignature, cbSigLen, hPubKey); });
}
