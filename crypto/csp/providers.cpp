#include "crypto/csp/providers.h"

#include <algorithm>

namespace crypto::csp {
namespace {

// The OIDs of the algorithms a provider lists; identifiers without an OID
// are dropped. Each call is told the record's own size, and the list is read
// no further than max_provider_algorithms entries.
std::vector<std::string> provider_oids(HCRYPTPROV handle)
{
    std::vector<std::string> oids;
    DWORD flag = CRYPT_FIRST;
    for (std::size_t read = 0; read < max_provider_algorithms; ++read, flag = CRYPT_NEXT) {
        PROV_ENUMALGS record{};
        DWORD length = sizeof(record);
        if (!CryptGetProvParam(handle, PP_ENUMALGS, reinterpret_cast<BYTE*>(&record), &length, flag))
            break;
        if (const char* oid = CertAlgIdToOID(record.aiAlgid))
            oids.emplace_back(oid);
    }
    return oids;
}

bool supports_any(const std::vector<std::string>& provided, const std::vector<std::string>& wanted)
{
    return std::any_of(provided.begin(), provided.end(), [&wanted](const std::string& oid) {
        return std::find(wanted.begin(), wanted.end(), oid) != wanted.end();
    });
}

// The provider name queries. Some CryptoAPI builds judge their own outcome by
// a last error that they do not reset, so it is cleared before each call.
bool provider_name_size(DWORD index, DWORD& type, DWORD& size)
{
    SetLastError(ERROR_SUCCESS);
    size = 0;
    return CryptEnumProvidersA(index, nullptr, 0, &type, nullptr, &size) != FALSE;
}

bool provider_name(DWORD index, DWORD& type, std::vector<char>& name, DWORD& size)
{
    SetLastError(ERROR_SUCCESS);
    return CryptEnumProvidersA(index, nullptr, 0, &type, name.data(), &size) != FALSE;
}

}  // namespace

std::vector<verify_context> find_provider_contexts(const std::vector<std::string>& oids)
{
    std::vector<verify_context> found;
    DWORD type = 0;
    DWORD size = 0;
    for (DWORD index = 0; index < max_providers && provider_name_size(index, type, size); ++index) {
        if (size > provider_size_limit)
            continue;
        std::vector<char> name(size, 0);
        if (!provider_name(index, type, name, size) || size == 0)
            continue;
        const std::string provider(name.data(), written_part(size - 1, name.size()));
        HCRYPTPROV handle = 0;
        if (!CryptAcquireContextA(&handle, nullptr, provider.c_str(), type, CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
            continue;
        verify_context context(handle);
        if (supports_any(provider_oids(handle), oids))
            found.push_back(std::move(context));
    }
    return found;
}

std::vector<provider_entry> list_providers(const std::vector<std::string>& oids)
{
    std::vector<provider_entry> entries;
    for (const auto& context : find_provider_contexts(oids)) {
        provider_entry entry;
        // A name that cannot be read is listed empty; one whose size is past
        // the limit leaves the provider out.
        if (read_param_text(context.handle(), PP_NAME, entry.name) == sized_read::oversized)
            continue;
        DWORD type = 0;
        DWORD length = sizeof(type);
        if (CryptGetProvParam(context.handle(), PP_PROVTYPE, reinterpret_cast<BYTE*>(&type), &length, 0))
            entry.type = type;
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace crypto::csp
