// Keys: container key pairs, ephemeral pairs, imported public keys, agreement
// keys and GOST 28147-89 session keys, with the two GOST key blobs.
#include <cstring>

#include "common/gost_standin.h"
#include "cp_entry_points.h"
#include "csp_objects.h"
#include "faults.h"
#include "key_blobs.h"
#include "standin_scheme.h"

using namespace gost_standin;

namespace {

constexpr DWORD session_key_bits = 256;
constexpr DWORD session_block_bits = 64;

std::unique_ptr<key_object> pair_object(HCRYPTPROV owner, key_kind kind, const key_family& family, ALG_ID alg,
                                        const bytes& private_key)
{
    auto key = std::make_unique<key_object>();
    key->owner = owner;
    key->kind = kind;
    key->family = &family;
    key->alg = alg;
    key->private_key = private_key;
    key->public_key = derive_public_key(family, private_key);
    key->parameters = key_parameters_der(family);
    return key;
}

std::unique_ptr<key_object> container_key(HCRYPTPROV owner, const stored_key& stored)
{
    const key_family* family = family_by_key_alg(stored.alg);
    if (!family || stored.private_key.size() != family->private_size) throw csp_error(NTE_BAD_KEYSET);
    auto key = pair_object(owner, key_kind::container_pair, *family, stored.alg, stored.private_key);
    key->spec = stored.spec;
    key->exported_blob = stored.exported_blob;
    return key;
}

bool is_pair(const key_object& key) { return key.kind == key_kind::container_pair || key.kind == key_kind::ephemeral_pair; }

// The key pair that an AT_* spec or a key-pair ALG_ID asks CPGenKey for.
bool container_key_request(const context& ctx, ALG_ID alg, DWORD& spec, ALG_ID& key_alg)
{
    if (alg == AT_KEYEXCHANGE || alg == AT_SIGNATURE) {
        spec = alg;
        key_alg = alg == AT_KEYEXCHANGE ? ctx.family->exchange_alg : ctx.family->sign_alg;
        return true;
    }
    const key_family* family = family_by_key_alg(alg);
    if (!family || alg == family->ephemeral_alg || !provider_supports(ctx, alg)) return false;
    spec = alg == family->exchange_alg ? AT_KEYEXCHANGE : AT_SIGNATURE;
    key_alg = alg;
    return true;
}

HCRYPTKEY generate(HCRYPTPROV handle, ALG_ID alg, DWORD flags)
{
    auto& tables = object_tables::instance();
    context& ctx = tables.get_context(handle);
    DWORD spec = 0;
    ALG_ID key_alg = 0;
    if (container_key_request(ctx, alg, spec, key_alg)) {
        if (!ctx.has_container) throw csp_error(NTE_BAD_KEYSET);
        authorize_private_use(ctx);
        const key_family& family = *family_by_key_alg(key_alg);
        stored_key stored;
        stored.spec = spec;
        stored.alg = key_alg;
        stored.private_key = random_bytes(family.private_size);
        container_store::update([&](container_list& containers) {
            container_record* record = find_container(containers, ctx.container.name);
            if (!record) throw csp_error(NTE_BAD_KEYSET);
            if (stored_key* existing = record->key(spec))
                *existing = stored;
            else
                record->keys.push_back(stored);
            ctx.container = *record;
            return true;
        });
        return tables.add(container_key(handle, stored));
    }
    if (const key_family* family = family_by_key_alg(alg)) {
        if (alg != family->ephemeral_alg || !provider_supports(ctx, alg)) throw csp_error(NTE_BAD_ALGID);
        auto key = pair_object(handle, key_kind::ephemeral_pair, *family, alg, random_bytes(family->private_size));
        key->exportable = (flags & CRYPT_EXPORTABLE) != 0;
        return tables.add(std::move(key));
    }
    if (alg == calg_g28147) {
        auto key = std::make_unique<key_object>();
        key->owner = handle;
        key->kind = key_kind::session;
        key->alg = calg_g28147;
        key->secret = random_bytes(32);
        key->parameters = cipher_parameters_der(*ctx.family);
        key->exportable = (flags & CRYPT_EXPORTABLE) != 0;
        return tables.add(std::move(key));
    }
    throw csp_error(NTE_BAD_ALGID);
}

bool is_export_alg(ALG_ID alg) { return alg == calg_pro_export || alg == calg_pro12_export; }

key_object& export_key(HCRYPTPROV handle, HCRYPTKEY pub)
{
    if (!pub) throw csp_error(NTE_NO_KEY);
    key_object& key = object_tables::instance().get_key(handle, pub);
    if (key.kind != key_kind::agreement) throw csp_error(NTE_BAD_KEY);
    if (!is_export_alg(key.alg)) throw csp_error(NTE_BAD_ALGID);
    return key;
}

HCRYPTKEY import_public(HCRYPTPROV handle, const BYTE* data, DWORD size, HCRYPTKEY pub)
{
    auto& tables = object_tables::instance();
    public_key_blob blob;
    if (!parse_public_key_blob(data, size, blob)) throw csp_error(NTE_BAD_DATA);
    const key_family* family = family_by_key_alg(blob.alg);
    if (!family) throw csp_error(NTE_BAD_ALGID);
    if (blob.key.size() != family->public_size) throw csp_error(NTE_BAD_DATA);

    if (!pub) {
        auto key = std::make_unique<key_object>();
        key->owner = handle;
        key->kind = key_kind::public_key;
        key->family = family;
        key->alg = blob.alg;
        key->public_key = blob.key;
        key->parameters = blob.parameters;
        return tables.add(std::move(key));
    }

    // With a key pair as the import key: derive the agreement key.
    key_object& own = tables.get_key(handle, pub);
    if (!is_pair(own)) throw csp_error(NTE_BAD_KEY);
    if (own.kind == key_kind::container_pair) {
        if (own.spec != AT_KEYEXCHANGE) throw csp_error(NTE_BAD_KEY);
        authorize_private_use(tables.get_context(handle));
    }
    if (own.family != family) throw csp_error(NTE_BAD_PUBLIC_KEY);
    auto key = std::make_unique<key_object>();
    key->owner = handle;
    key->kind = key_kind::agreement;
    key->family = family;
    key->alg = own.family->exchange_alg;
    key->secret = agree(own.public_key, blob.key);
    return tables.add(std::move(key));
}

HCRYPTKEY import_simple(HCRYPTPROV handle, const BYTE* data, DWORD size, HCRYPTKEY pub, DWORD flags)
{
    const key_object& kek = export_key(handle, pub);
    simple_blob blob;
    if (!parse_simple_blob(data, size, blob)) throw csp_error(NTE_BAD_DATA);
    bytes session;
    if (!unwrap_session_key(kek.secret, blob.ukm, {blob.encrypted, blob.mac}, blob.parameters, session))
        throw csp_error(NTE_BAD_DATA);
    auto key = std::make_unique<key_object>();
    key->owner = handle;
    key->kind = key_kind::session;
    key->alg = calg_g28147;
    key->secret = session;
    key->parameters = blob.parameters;
    key->exportable = (flags & CRYPT_EXPORTABLE) != 0;
    return object_tables::instance().add(std::move(key));
}

DWORD provider_type(HCRYPTPROV handle) { return object_tables::instance().get_context(handle).provider_type; }

void export_blob(HCRYPTPROV handle, HCRYPTKEY hkey, HCRYPTKEY pub, DWORD type, BYTE* data, DWORD* length)
{
    key_object& key = object_tables::instance().get_key(handle, hkey);
    if (type == PUBLICKEYBLOB) {
        if (key.kind != key_kind::public_key && !is_pair(key)) throw csp_error(NTE_BAD_KEY);
        if (pub) throw csp_error(NTE_BAD_KEY);
        const bytes blob = !key.exported_blob.empty() ? key.exported_blob
                                                      : build_public_key_blob({key.alg, key.parameters, key.public_key});
        // Faults "export-6-size" and "export-6-written".
        return copy_out_faulted("export-6", provider_type(handle), blob.data(), blob.size(), data, length);
    }
    if (type == SIMPLEBLOB) {
        if (key.kind != key_kind::session) throw csp_error(NTE_BAD_KEY);
        const key_object& kek = export_key(handle, pub);
        if (!key.exportable) throw csp_error(NTE_BAD_KEY_STATE);
        simple_blob blob;
        blob.ukm = random_bytes(simple_blob_ukm_size);
        const wrapped_key wrapped = wrap_session_key(kek.secret, blob.ukm, key.secret, key.parameters);
        blob.encrypted = wrapped.encrypted;
        blob.mac = wrapped.mac;
        blob.parameters = key.parameters;
        const bytes out = build_simple_blob(blob);
        // Faults "export-1-size" and "export-1-written".
        return copy_out_faulted("export-1", provider_type(handle), out.data(), out.size(), data, length);
    }
    throw csp_error(NTE_BAD_TYPE);
}

void set_key_param(HCRYPTPROV handle, HCRYPTKEY hkey, DWORD param, const BYTE* data)
{
    auto& tables = object_tables::instance();
    key_object& key = tables.get_key(handle, hkey);
    if (!data) throw csp_error(ERROR_INVALID_PARAMETER);
    switch (param) {
    case KP_ALGID: {
        ALG_ID alg;
        std::memcpy(&alg, data, sizeof alg);
        if (key.kind != key_kind::agreement) throw csp_error(NTE_BAD_KEY);
        if (!is_export_alg(alg) && alg != calg_g28147) throw csp_error(NTE_BAD_ALGID);
        key.alg = alg;
        return;
    }
    case KP_CERTIFICATE: {
        if (key.kind != key_kind::container_pair) throw csp_error(NTE_BAD_KEY);
        context& ctx = tables.get_context(handle);
        authorize_private_use(ctx);
        const std::size_t der_size = der_sequence_size(data, 0x10000);
        if (der_size == 0) throw csp_error(NTE_BAD_DATA);
        const bytes certificate(data, data + der_size);
        container_store::update([&](container_list& containers) {
            container_record* record = find_container(containers, ctx.container.name);
            stored_key* stored = record ? record->key(key.spec) : nullptr;
            if (!stored) throw csp_error(NTE_NO_KEY);
            stored->certificate = certificate;
            ctx.container = *record;
            return true;
        });
        return;
    }
    case KP_IV:
    case KP_MODE:
    case KP_PADDING:
        if (key.kind != key_kind::session) throw csp_error(NTE_BAD_KEY);
        return;  // the stand-in's stream has no modes
    default:
        throw csp_error(NTE_BAD_TYPE);
    }
}

void get_key_param(HCRYPTPROV handle, HCRYPTKEY hkey, DWORD param, BYTE* data, DWORD* length)
{
    auto& tables = object_tables::instance();
    const key_object& key = tables.get_key(handle, hkey);
    auto dword_out = [&](DWORD value) { copy_out(&value, sizeof value, data, length); };
    switch (param) {
    case KP_ALGID:
        return dword_out(key.alg);
    case KP_KEYLEN:
        return dword_out(key.kind == key_kind::session || key.kind == key_kind::agreement
                             ? session_key_bits
                             : static_cast<DWORD>(key.family->public_size * 8));
    case KP_BLOCKLEN:
        return dword_out(key.kind == key_kind::session ? session_block_bits : 0);
    case KP_PERMISSIONS:
        return dword_out(CRYPT_ENCRYPT | CRYPT_DECRYPT | CRYPT_READ | CRYPT_WRITE |
                         (key.exportable ? CRYPT_EXPORT : 0));
    case KP_CERTIFICATE: {
        if (key.kind != key_kind::container_pair) throw csp_error(NTE_BAD_KEY);
        const stored_key* stored = tables.get_context(handle).container.key(key.spec);
        if (!stored || stored->certificate.empty()) throw csp_error(SCARD_E_NO_SUCH_CERTIFICATE);
        return copy_out(stored->certificate.data(), stored->certificate.size(), data, length);
    }
    default:
        throw csp_error(NTE_BAD_TYPE);
    }
}

void crypt(HCRYPTPROV handle, HCRYPTKEY hkey, BYTE* data, DWORD* length, DWORD capacity)
{
    const key_object& key = object_tables::instance().get_key(handle, hkey);
    if (key.kind != key_kind::session) throw csp_error(NTE_BAD_KEY);
    if (!length) throw csp_error(ERROR_INVALID_PARAMETER);
    if (!data) return;  // size query: a stream keeps the length
    if (*length > capacity) throw csp_error(ERROR_MORE_DATA);
    apply_key_stream(key.secret, data, *length);
}

}  // namespace

KELVORA_CP CPGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey)
{
    return guarded([&] {
        if (!phKey) throw csp_error(ERROR_INVALID_PARAMETER);
        *phKey = generate(hProv, Algid, dwFlags);
    });
}

KELVORA_CP CPDeriveKey(HCRYPTPROV hProv, ALG_ID, HCRYPTHASH hBaseData, DWORD, HCRYPTKEY*)
{
    return guarded([&] {
        object_tables::instance().get_hash(hProv, hBaseData);
        throw csp_error(NTE_BAD_ALGID);  // keys are not derived from hashes here
    });
}

KELVORA_CP CPDestroyKey(HCRYPTPROV hProv, HCRYPTKEY hKey)
{
    return guarded([&] { object_tables::instance().remove_key(hProv, hKey); });
}

KELVORA_CP CPDuplicateKey(HCRYPTPROV hProv, HCRYPTKEY hKey, LPDWORD pdwReserved, DWORD dwFlags, HCRYPTKEY* phKey)
{
    return guarded([&] {
        if (pdwReserved || !phKey) throw csp_error(ERROR_INVALID_PARAMETER);
        if (dwFlags) throw csp_error(NTE_BAD_FLAGS);
        auto& tables = object_tables::instance();
        *phKey = tables.add(std::make_unique<key_object>(tables.get_key(hProv, hKey)));
    });
}

KELVORA_CP CPGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey)
{
    return guarded([&] {
        if (!phUserKey) throw csp_error(ERROR_INVALID_PARAMETER);
        auto& tables = object_tables::instance();
        const context& ctx = tables.get_context(hProv);
        if (dwKeySpec != AT_KEYEXCHANGE && dwKeySpec != AT_SIGNATURE) throw csp_error(NTE_BAD_KEY);
        const stored_key* stored = ctx.has_container ? ctx.container.key(dwKeySpec) : nullptr;
        if (!stored) throw csp_error(NTE_NO_KEY);
        *phUserKey = tables.add(container_key(hProv, *stored));
    });
}

KELVORA_CP CPSetKeyParam(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD dwParam, const BYTE* pbData, DWORD)
{
    return guarded([&] { set_key_param(hProv, hKey, dwParam, pbData); });
}

KELVORA_CP CPGetKeyParam(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD dwParam, LPBYTE pbData, LPDWORD pcbDataLen, DWORD)
{
    return guarded([&] { get_key_param(hProv, hKey, dwParam, pbData, pcbDataLen); });
}

KELVORA_CP CPExportKey(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTKEY hPubKey, DWORD dwBlobType, DWORD,
                       LPBYTE pbData, LPDWORD pcbDataLen)
{
    return guarded([&] { export_blob(hProv, hKey, hPubKey, dwBlobType, pbData, pcbDataLen); });
}

KELVORA_CP CPImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD cbDataLen, HCRYPTKEY hPubKey, DWORD dwFlags,
                       HCRYPTKEY* phKey)
{
    return guarded([&] {
        if (!pbData || !phKey) throw csp_error(ERROR_INVALID_PARAMETER);
        object_tables::instance().get_context(hProv);
        if (cbDataLen < 8) throw csp_error(NTE_BAD_DATA);
        if (pbData[0] == PUBLICKEYBLOB)
            *phKey = import_public(hProv, pbData, cbDataLen, hPubKey);
        else if (pbData[0] == SIMPLEBLOB)
            *phKey = import_simple(hProv, pbData, cbDataLen, hPubKey, dwFlags);
        else
            throw csp_error(NTE_BAD_TYPE);
    });
}

KELVORA_CP CPEncrypt(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH, BOOL, DWORD, LPBYTE pbData, LPDWORD pcbDataLen,
                     DWORD cbBufLen)
{
    return guarded([&] { crypt(hProv, hKey, pbData, pcbDataLen, cbBufLen); });
}

KELVORA_CP CPDecrypt(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH, BOOL, DWORD, LPBYTE pbData, LPDWORD pcbDataLen)
{
    return guarded([&] { crypt(hProv, hKey, pbData, pcbDataLen, pcbDataLen ? *pcbDataLen : 0); });
}
