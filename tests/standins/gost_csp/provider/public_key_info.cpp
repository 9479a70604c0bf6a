// The functions crypt32 looks up (through the OID registration the fixture
// writes) to turn a GOST SubjectPublicKeyInfo into a provider key and back.
// The public key travels in the certificate as the DER OCTET STRING of the
// raw key, the parameters as the algorithm's parameters.
#include <cstring>
#include <string>

#include "common/gost_families.h"
#include "cp_entry_points.h"
#include "key_blobs.h"

using namespace gost_standin;

namespace {

const key_family* family_by_public_key_oid(const char* oid)
{
    if (!oid) return nullptr;
    for (const auto& family : key_families())
        if (std::strcmp(oid, family.public_key_oid) == 0 || std::strcmp(oid, family.exchange_oid) == 0)
            return &family;
    return nullptr;
}

// The contents of a DER OCTET STRING that fills the whole input, or false.
bool octet_string_contents(const BYTE* data, DWORD size, bytes& out)
{
    if (size < 2 || data[0] != 0x04) return false;
    std::size_t length = 0;
    std::size_t header = 2;
    if (data[1] < 0x80) {
        length = data[1];
    } else if (data[1] == 0x81 && size >= 3) {
        length = data[2];
        header = 3;
    } else {
        return false;
    }
    if (header + length != size) return false;
    out.assign(data + header, data + size);
    return true;
}

bytes octet_string(const bytes& contents)
{
    bytes out{0x04};
    if (contents.size() >= 0x80) out.push_back(0x81);
    out.push_back(static_cast<std::uint8_t>(contents.size()));
    out.insert(out.end(), contents.begin(), contents.end());
    return out;
}

}  // namespace

KELVORA_CP KelvoraGostImportPublicKeyInfoEx(HCRYPTPROV hCryptProv, DWORD, PCERT_PUBLIC_KEY_INFO pInfo,
                                            ALG_ID aiKeyAlg, DWORD, void*, HCRYPTKEY* phKey)
{
    if (!pInfo || !phKey) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const key_family* family = family_by_public_key_oid(pInfo->Algorithm.pszObjId);
    public_key_blob blob;
    if (!family || !octet_string_contents(pInfo->PublicKey.pbData, pInfo->PublicKey.cbData, blob.key) ||
        blob.key.size() != family->public_size) {
        SetLastError(static_cast<DWORD>(NTE_BAD_PUBLIC_KEY));
        return FALSE;
    }
    blob.alg = aiKeyAlg ? aiKeyAlg : family->sign_alg;
    if (pInfo->Algorithm.Parameters.cbData)
        blob.parameters.assign(pInfo->Algorithm.Parameters.pbData,
                               pInfo->Algorithm.Parameters.pbData + pInfo->Algorithm.Parameters.cbData);
    else
        blob.parameters = key_parameters_der(*family);
    const bytes data = build_public_key_blob(blob);
    return CryptImportKey(hCryptProv, data.data(), static_cast<DWORD>(data.size()), 0, 0, phKey);
}

KELVORA_CP KelvoraGostExportPublicKeyInfoEx(HCRYPTPROV hCryptProv, DWORD dwKeySpec, DWORD, LPSTR pszPublicKeyObjId,
                                            DWORD, void*, PCERT_PUBLIC_KEY_INFO pInfo, DWORD* pcbInfo)
{
    if (!pcbInfo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    HCRYPTKEY key = 0;
    if (!CryptGetUserKey(hCryptProv, dwKeySpec, &key)) return FALSE;
    DWORD size = 0;
    bytes exported;
    BOOL ok = CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &size);
    if (ok) {
        exported.resize(size);
        ok = CryptExportKey(key, 0, PUBLICKEYBLOB, 0, exported.data(), &size);
    }
    const DWORD error = GetLastError();
    CryptDestroyKey(key);
    if (!ok) {
        SetLastError(error);
        return FALSE;
    }
    public_key_blob blob;
    const key_family* family = nullptr;
    if (!parse_public_key_blob(exported.data(), size, blob) || !(family = family_by_key_alg(blob.alg))) {
        SetLastError(static_cast<DWORD>(NTE_BAD_PUBLIC_KEY));
        return FALSE;
    }
    const std::string oid = pszPublicKeyObjId ? pszPublicKeyObjId : family->public_key_oid;
    const bytes key_bits = octet_string(blob.key);
    const DWORD needed =
        static_cast<DWORD>(sizeof(CERT_PUBLIC_KEY_INFO) + oid.size() + 1 + blob.parameters.size() + key_bits.size());
    if (!pInfo) {
        *pcbInfo = needed;
        return TRUE;
    }
    if (*pcbInfo < needed) {
        *pcbInfo = needed;
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    BYTE* tail = reinterpret_cast<BYTE*>(pInfo + 1);
    std::memset(pInfo, 0, sizeof *pInfo);
    pInfo->Algorithm.pszObjId = reinterpret_cast<LPSTR>(tail);
    std::memcpy(tail, oid.c_str(), oid.size() + 1);
    tail += oid.size() + 1;
    pInfo->Algorithm.Parameters.cbData = static_cast<DWORD>(blob.parameters.size());
    pInfo->Algorithm.Parameters.pbData = tail;
    std::memcpy(tail, blob.parameters.data(), blob.parameters.size());
    tail += blob.parameters.size();
    pInfo->PublicKey.cbData = static_cast<DWORD>(key_bits.size());
    pInfo->PublicKey.pbData = tail;
    std::memcpy(tail, key_bits.data(), key_bits.size());
    *pcbInfo = needed;
    return TRUE;
}

// CryptExportPublicKeyInfo without an OID: crypt32 exports the key's
// PUBLICKEYBLOB and asks this function, found under the OID of the blob's
// ALG_ID, for the encoded key and parameters (both LocalAlloc'ed).
KELVORA_CP KelvoraGostEncodePublicKeyAndParameters(DWORD, LPCSTR, const BYTE* pbPubKey, DWORD cbPubKey, DWORD, void*,
                                                   BYTE** ppbKey, DWORD* pcbKey, BYTE** ppbParams, DWORD* pcbParams)
{
    public_key_blob blob;
    if (!pbPubKey || !ppbKey || !pcbKey || !ppbParams || !pcbParams || !parse_public_key_blob(pbPubKey, cbPubKey, blob)) {
        SetLastError(static_cast<DWORD>(NTE_BAD_PUBLIC_KEY));
        return FALSE;
    }
    const bytes key = octet_string(blob.key);
    BYTE* key_copy = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED, key.size()));
    BYTE* params_copy = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED, blob.parameters.size() ? blob.parameters.size() : 1));
    if (!key_copy || !params_copy) {
        LocalFree(key_copy);
        LocalFree(params_copy);
        SetLastError(ERROR_OUTOFMEMORY);
        return FALSE;
    }
    std::memcpy(key_copy, key.data(), key.size());
    if (!blob.parameters.empty()) std::memcpy(params_copy, blob.parameters.data(), blob.parameters.size());
    *ppbKey = key_copy;
    *pcbKey = static_cast<DWORD>(key.size());
    *ppbParams = params_copy;
    *pcbParams = static_cast<DWORD>(blob.parameters.size());
    return TRUE;
}
