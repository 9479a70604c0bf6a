// Provider contexts: acquiring, releasing, and the provider parameters.
#include <algorithm>
#include <cstring>
#include <string>

#include "common/gost_standin.h"
#include "cp_entry_points.h"
#include "csp_objects.h"
#include "faults.h"

using namespace gost_standin;

namespace {

constexpr DWORD crypt_fqcn = 0x10;  // PP_ENUMCONTAINERS: fully qualified names
// The parameters a request builder asks of a new container's provider.
constexpr DWORD param_version5_check = 109;
constexpr DWORD param_pin_check = 8;
constexpr DWORD known_acquire_flags = CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET |
                                      CRYPT_MACHINE_KEYSET | CRYPT_SILENT | CRYPT_DEFAULT_CONTAINER_OPTIONAL;

struct container_reference {
    std::string name;    // "" for none
    std::string reader;  // from a \\.\<reader>\<name> form
};

container_reference parse_container(LPCSTR text)
{
    container_reference out;
    if (!text) return out;
    std::string name(text);
    if (name.rfind("\\\\.\\", 0) == 0) {
        const std::size_t slash = name.find('\\', 4);
        if (slash == std::string::npos) throw csp_error(NTE_BAD_KEYSET_PARAM);
        out.reader = name.substr(4, slash - 4);
        if (out.reader == store_pseudo_reader) out.reader.clear();
        name = name.substr(slash + 1);
    }
    out.name = name;
    return out;
}

void acquire(HCRYPTPROV* phProv, LPCSTR szContainer, DWORD flags, provider_vtable* vtable)
{
    if (!phProv || !vtable) throw csp_error(ERROR_INVALID_PARAMETER);
    if (flags & ~known_acquire_flags) throw csp_error(NTE_BAD_FLAGS);
    const key_family* family = family_by_provider_type(vtable->dwProvType);
    if (!family) throw csp_error(NTE_BAD_PROV_TYPE);

    const bool verify = (flags & CRYPT_VERIFYCONTEXT) == CRYPT_VERIFYCONTEXT;
    const bool create = (flags & CRYPT_NEWKEYSET) != 0;
    const bool remove = (flags & CRYPT_DELETEKEYSET) != 0;
    if ((verify && (create || remove)) || (create && remove)) throw csp_error(NTE_BAD_FLAGS);
    const container_reference reference = parse_container(szContainer);

    auto ctx = std::make_unique<context>();
    ctx->family = family;
    ctx->provider_type = vtable->dwProvType;
    ctx->provider_name = vtable->pszProvName ? vtable->pszProvName : family->provider_name;
    ctx->verify_only = verify;
    ctx->silent = (flags & CRYPT_SILENT) != 0;

    if (remove) {
        if (reference.name.empty()) throw csp_error(NTE_BAD_KEYSET);
        bool found = false;
        container_store::update([&](container_list& containers) {
            const auto it = std::find_if(containers.begin(), containers.end(),
                                         [&](const container_record& c) { return c.name == reference.name; });
            if (it == containers.end()) return false;
            containers.erase(it);
            found = true;
            return true;
        });
        if (!found) throw csp_error(NTE_BAD_KEYSET);
        *phProv = 0;
        return;
    }

    if (create) {
        if (reference.name.empty()) throw csp_error(NTE_BAD_KEYSET_PARAM);
        bool exists = false;
        container_store::update([&](container_list& containers) {
            if (find_container(containers, reference.name)) {
                exists = true;
                return false;
            }
            container_record record;
            record.name = reference.name;
            record.reader = reference.reader;
            containers.push_back(record);
            ctx->container = record;
            return true;
        });
        if (exists) throw csp_error(NTE_EXISTS);
        ctx->has_container = true;
        ctx->created_here = true;
    } else if (!reference.name.empty()) {
        container_list containers = container_store::load();
        const container_record* record = find_container(containers, reference.name);
        if (!record) throw csp_error(NTE_BAD_KEYSET);
        ctx->container = *record;
        ctx->has_container = true;
    } else if (!verify) {
        // No default container in this provider.
        throw csp_error(NTE_BAD_KEYSET);
    }
    *phProv = object_tables::instance().add(std::move(ctx));
}

// A DWORD of the registry (HKLM), or the fallback when it is absent.
DWORD registry_dword(const std::wstring& key, const wchar_t* value, DWORD fallback)
{
    DWORD data = 0, size = sizeof data;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), value, RRF_RT_REG_DWORD, nullptr, &data, &size) != ERROR_SUCCESS)
        return fallback;
    return data;
}

// PP_VERSION: the value registered for this provider, else 2.0.
DWORD provider_version(const context& ctx)
{
    std::wstring key = L"Software\\Microsoft\\Cryptography\\Defaults\\Provider\\";
    for (char c : ctx.provider_name) key += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return registry_dword(key, version_value, 0x0200);
}

// Provider parameter 8, set before a new container gets its key: fails with
// SCARD_W_WRONG_CHV while the registered count of such calls lasts (counted
// down), then answers the registered result (0: success).
void pin_check()
{
    const DWORD left = registry_dword(settings_key, wrong_pin_calls_value, 0);
    if (left) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, settings_key, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            const DWORD rest = left - 1;
            RegSetValueExW(key, wrong_pin_calls_value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&rest), sizeof rest);
            RegCloseKey(key);
        }
        throw csp_error(SCARD_W_WRONG_CHV);
    }
    const DWORD result = registry_dword(settings_key, pin_check_result_value, 0);
    if (result) throw csp_error(result);
}

// A PP_ENUMALGS record. Fault "enum-algs-length": the record is written,
// then the rest of the buffer the caller announced is filled with 'A' up to
// the fault's value, which is reported as the length written.
void copy_out_algorithm(const context& ctx, const PROV_ENUMALGS& record, BYTE* data, DWORD* length)
{
    const DWORD size = sizeof record;
    DWORD reported = 0;
    if (!length || !fault("enum-algs-length", ctx.provider_type, size, reported))
        return copy_out(&record, size, data, length);
    if (data) {
        if (*length < size) {
            *length = size;
            throw csp_error(ERROR_MORE_DATA);
        }
        std::memcpy(data, &record, size);
        const DWORD filled = std::min(*length, reported);
        if (filled > size) std::memset(data + size, 'A', filled - size);
    }
    *length = reported;
}

void get_enum_algs(context& ctx, bool extended, BYTE* data, DWORD* length, DWORD flags)
{
    if (flags & CRYPT_FIRST) ctx.next_algorithm = 0;
    const auto& table = algorithm_table();
    DWORD endless = 0;
    for (int pass = 0; pass < 2; ++pass) {
        while (ctx.next_algorithm < table.size() && !provider_supports(ctx, table[ctx.next_algorithm].alg))
            ++ctx.next_algorithm;
        // Fault "enum-algs-endless": the list starts again instead of ending.
        if (ctx.next_algorithm < table.size() || !fault("enum-algs-endless", ctx.provider_type, 0, endless)) break;
        ctx.next_algorithm = 0;
    }
    if (ctx.next_algorithm >= table.size()) throw csp_error(ERROR_NO_MORE_ITEMS);
    const algorithm_info& info = table[ctx.next_algorithm];
    if (extended) {
        PROV_ENUMALGS_EX record{};
        record.aiAlgid = info.alg;
        record.dwDefaultLen = record.dwMinLen = record.dwMaxLen = info.bits;
        record.dwNameLen = static_cast<DWORD>(std::strlen(info.name) + 1);
        std::strncpy(record.szName, info.name, sizeof record.szName - 1);
        record.dwLongNameLen = static_cast<DWORD>(std::strlen(info.long_name) + 1);
        std::strncpy(record.szLongName, info.long_name, sizeof record.szLongName - 1);
        copy_out(&record, sizeof record, data, length);
    } else {
        PROV_ENUMALGS record{};
        record.aiAlgid = info.alg;
        record.dwBitLen = info.bits;
        record.dwNameLen = static_cast<DWORD>(std::strlen(info.name) + 1);
        std::strncpy(record.szName, info.name, sizeof record.szName - 1);
        copy_out_algorithm(ctx, record, data, length);
    }
    // A size query does not advance the enumeration.
    if (data) ++ctx.next_algorithm;
}

void get_enum_containers(context& ctx, BYTE* data, DWORD* length, DWORD flags)
{
    if (!length) throw csp_error(ERROR_INVALID_PARAMETER);
    if ((flags & CRYPT_FIRST) || ctx.container_names.empty()) {
        ctx.container_names.clear();
        for (const auto& record : container_store::load())
            ctx.container_names.push_back((flags & crypt_fqcn) ? unique_container_name(record) : record.name);
        if (flags & CRYPT_FIRST) ctx.next_container = 0;
    }
    DWORD endless = 0;
    const bool past_end = ctx.next_container >= ctx.container_names.size();
    if (past_end && !fault("enum-containers-endless", ctx.provider_type, 0, endless))
        throw csp_error(ERROR_NO_MORE_ITEMS);
    // Every call, the size query included, writes back the length of the
    // name it returns (or would return): a caller that passes that length on
    // gets ERROR_MORE_DATA for a longer name later in the walk. Fault
    // "enum-containers-endless": the stored names go on with names of
    // containers that do not exist, without end.
    const std::string name = past_end ? "endless-" + std::to_string(ctx.next_container)
                                      : ctx.container_names[ctx.next_container];
    const DWORD needed = static_cast<DWORD>(name.size() + 1);
    if (!data) {
        *length = needed;
        return;
    }
    if (*length < needed) {
        *length = needed;
        throw csp_error(ERROR_MORE_DATA);
    }
    std::memcpy(data, name.c_str(), needed);
    *length = needed;
    ++ctx.next_container;
}

void get_param(context& ctx, DWORD param, BYTE* data, DWORD* length, DWORD flags)
{
    // Fault "param-<number>-size": a size query of that parameter is
    // answered with the fault's value.
    DWORD size = 0;
    if (!data && length && fault("param-" + std::to_string(param) + "-size", ctx.provider_type, 0, size)) {
        *length = size;
        return;
    }
    switch (param) {
    case PP_ENUMALGS:
        return get_enum_algs(ctx, false, data, length, flags);
    case PP_ENUMALGS_EX:
        return get_enum_algs(ctx, true, data, length, flags);
    case PP_ENUMCONTAINERS:
        return get_enum_containers(ctx, data, length, flags);
    case PP_NAME:
        return copy_out_string(ctx.provider_name, data, length);
    case PP_PROVTYPE: {
        const DWORD type = ctx.provider_type;
        return copy_out(&type, sizeof type, data, length);
    }
    case PP_IMPTYPE: {
        const DWORD type = CRYPT_IMPL_SOFTWARE;
        return copy_out(&type, sizeof type, data, length);
    }
    case PP_VERSION: {
        const DWORD version = provider_version(ctx);
        return copy_out(&version, sizeof version, data, length);
    }
    case PP_KEYSPEC: {
        const DWORD specs = AT_KEYEXCHANGE | AT_SIGNATURE;
        return copy_out(&specs, sizeof specs, data, length);
    }
    case PP_CONTAINER:
        if (!ctx.has_container) throw csp_error(NTE_BAD_KEYSET);
        return copy_out_string(ctx.container.name, data, length);
    case PP_UNIQUE_CONTAINER:
        if (!ctx.has_container) throw csp_error(NTE_BAD_KEYSET);
        return copy_out_string(unique_container_name(ctx.container), data, length);
    case PP_SMARTCARD_READER:
        return copy_out_string(ctx.has_container ? ctx.container.reader : std::string(), data, length);
    case param_version5_check: {
        const DWORD value = 1;
        return copy_out(&value, sizeof value, data, length);
    }
    default:
        throw csp_error(NTE_BAD_TYPE);
    }
}

void set_pin(context& ctx, const BYTE* data)
{
    if (!data) throw csp_error(ERROR_INVALID_PARAMETER);
    const std::string pin(reinterpret_cast<const char*>(data));
    ctx.pin_given = true;
    ctx.pin = pin;
    // The first PIN given to a container made in this context, before it has
    // keys, becomes the container's PIN.
    if (ctx.created_here && ctx.container.pin.empty() && ctx.container.keys.empty() && !pin.empty()) {
        container_store::update([&](container_list& containers) {
            container_record* record = find_container(containers, ctx.container.name);
            if (!record) throw csp_error(NTE_BAD_KEYSET);
            record->pin = pin;
            ctx.container = *record;
            return true;
        });
    }
}

}  // namespace

KELVORA_CP CPAcquireContext(HCRYPTPROV* phProv, LPCSTR szContainer, DWORD dwFlags, provider_vtable* pVTable)
{
    // advapi32 loads the provider for every context and frees it with the
    // last one. Like an installed provider, this one stays loaded once used:
    // a process that opens thousands of containers one after the other
    // would otherwise load and unload the DLL (and its runtime) each time.
    static const bool pinned = [] {
        HMODULE self = nullptr;
        return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                                  reinterpret_cast<LPCWSTR>(&CPAcquireContext), &self) != FALSE;
    }();
    (void)pinned;
    return guarded([&] { acquire(phProv, szContainer, dwFlags, pVTable); });
}

KELVORA_CP CPReleaseContext(HCRYPTPROV hProv, DWORD dwFlags)
{
    return guarded([&] {
        if (dwFlags) throw csp_error(NTE_BAD_FLAGS);
        object_tables::instance().remove_context(hProv);
    });
}

KELVORA_CP CPGetProvParam(HCRYPTPROV hProv, DWORD dwParam, LPBYTE pbData, LPDWORD pcbDataLen, DWORD dwFlags)
{
    return guarded([&] { get_param(object_tables::instance().get_context(hProv), dwParam, pbData, pcbDataLen, dwFlags); });
}

KELVORA_CP CPSetProvParam(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData, DWORD)
{
    return guarded([&] {
        context& ctx = object_tables::instance().get_context(hProv);
        switch (dwParam) {
        case PP_KEYEXCHANGE_PIN:
        case PP_SIGNATURE_PIN:
            return set_pin(ctx, pbData);
        case PP_CLIENT_HWND:
            return;
        case param_pin_check:
            return pin_check();
        default:
            throw csp_error(NTE_BAD_TYPE);
        }
    });
}

KELVORA_CP CPGenRandom(HCRYPTPROV hProv, DWORD cbLen, LPBYTE pbBuffer)
{
    return guarded([&] {
        object_tables::instance().get_context(hProv);
        if (cbLen && !pbBuffer) throw csp_error(ERROR_INVALID_PARAMETER);
        const bytes random = random_bytes(cbLen);
        if (cbLen) std::memcpy(pbBuffer, random.data(), cbLen);
    });
}
