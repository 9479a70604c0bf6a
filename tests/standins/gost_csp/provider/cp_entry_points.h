#pragma once
// Prototypes of the CryptoAPI provider entry points that advapi32 resolves by
// name (the provider interface of the CryptoAPI service provider kit). They
// are exported undecorated through the module definition files.
#include <windows.h>
#include <wincrypt.h>

#define KELVORA_CP extern "C" BOOL WINAPI

// What advapi32 passes to CPAcquireContext (the service provider kit's
// VTableProvStruc, which the Windows SDK headers no longer declare).
struct provider_vtable {
    DWORD Version;
    FARPROC FuncVerifyImage;
    FARPROC FuncReturnhWnd;
    DWORD dwProvType;
    BYTE* pbContextInfo;
    DWORD cbContextInfo;
    LPSTR pszProvName;
};

KELVORA_CP CPAcquireContext(HCRYPTPROV* phProv, LPCSTR szContainer, DWORD dwFlags, provider_vtable* pVTable);
KELVORA_CP CPReleaseContext(HCRYPTPROV hProv, DWORD dwFlags);
KELVORA_CP CPGetProvParam(HCRYPTPROV hProv, DWORD dwParam, LPBYTE pbData, LPDWORD pcbDataLen, DWORD dwFlags);
KELVORA_CP CPSetProvParam(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData, DWORD dwFlags);
KELVORA_CP CPGenRandom(HCRYPTPROV hProv, DWORD cbLen, LPBYTE pbBuffer);

KELVORA_CP CPGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey);
KELVORA_CP CPDeriveKey(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTHASH hBaseData, DWORD dwFlags, HCRYPTKEY* phKey);
KELVORA_CP CPDestroyKey(HCRYPTPROV hProv, HCRYPTKEY hKey);
KELVORA_CP CPDuplicateKey(HCRYPTPROV hProv, HCRYPTKEY hKey, LPDWORD pdwReserved, DWORD dwFlags, HCRYPTKEY* phKey);
KELVORA_CP CPGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey);
KELVORA_CP CPSetKeyParam(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD dwParam, const BYTE* pbData, DWORD dwFlags);
KELVORA_CP CPGetKeyParam(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD dwParam, LPBYTE pbData, LPDWORD pcbDataLen,
                         DWORD dwFlags);
KELVORA_CP CPExportKey(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTKEY hPubKey, DWORD dwBlobType, DWORD dwFlags,
                       LPBYTE pbData, LPDWORD pcbDataLen);
KELVORA_CP CPImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD cbDataLen, HCRYPTKEY hPubKey, DWORD dwFlags,
                       HCRYPTKEY* phKey);
KELVORA_CP CPEncrypt(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL fFinal, DWORD dwFlags, LPBYTE pbData,
                     LPDWORD pcbDataLen, DWORD cbBufLen);
KELVORA_CP CPDecrypt(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL fFinal, DWORD dwFlags, LPBYTE pbData,
                     LPDWORD pcbDataLen);

KELVORA_CP CPCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags, HCRYPTHASH* phHash);
KELVORA_CP CPHashData(HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE* pbData, DWORD cbDataLen, DWORD dwFlags);
KELVORA_CP CPHashSessionKey(HCRYPTPROV hProv, HCRYPTHASH hHash, HCRYPTKEY hKey, DWORD dwFlags);
KELVORA_CP CPGetHashParam(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwParam, LPBYTE pbData, LPDWORD pcbDataLen,
                          DWORD dwFlags);
KELVORA_CP CPSetHashParam(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwParam, const BYTE* pbData, DWORD dwFlags);
KELVORA_CP CPDestroyHash(HCRYPTPROV hProv, HCRYPTHASH hHash);
KELVORA_CP CPDuplicateHash(HCRYPTPROV hProv, HCRYPTHASH hHash, LPDWORD pdwReserved, DWORD dwFlags,
                           HCRYPTHASH* phHash);
KELVORA_CP CPSignHash(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwKeySpec, LPCWSTR szDescription, DWORD dwFlags,
                      LPBYTE pbSignature, LPDWORD pcbSigLen);
KELVORA_CP CPVerifySignature(HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE* pbSignature, DWORD cbSigLen,
                             HCRYPTKEY hPubKey, LPCWSTR szDescription, DWORD dwFlags);

// crypt32's CryptImportPublicKeyInfoEx / CryptExportPublicKeyInfoEx for the
// GOST public-key OIDs (registered by the fixture).
KELVORA_CP KelvoraGostImportPublicKeyInfoEx(HCRYPTPROV hCryptProv, DWORD dwCertEncodingType,
                                            PCERT_PUBLIC_KEY_INFO pInfo, ALG_ID aiKeyAlg, DWORD dwFlags,
                                            void* pvAuxInfo, HCRYPTKEY* phKey);
KELVORA_CP KelvoraGostExportPublicKeyInfoEx(HCRYPTPROV hCryptProv, DWORD dwKeySpec, DWORD dwCertEncodingType,
                                            LPSTR pszPublicKeyObjId, DWORD dwFlags, void* pvAuxInfo,
                                            PCERT_PUBLIC_KEY_INFO pInfo, DWORD* pcbInfo);
KELVORA_CP KelvoraGostEncodePublicKeyAndParameters(DWORD dwCertEncodingType, LPCSTR pszPublicKeyObjId,
                                                   const BYTE* pbPubKey, DWORD cbPubKey, DWORD dwFlags,
                                                   void* pvAuxInfo, BYTE** ppbKey, DWORD* pcbKey, BYTE** ppbParams,
                                                   DWORD* pcbParams);
