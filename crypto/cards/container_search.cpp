#include "crypto/cards/container_search.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <exception>
#include <stdexcept>

#include "crypto/cards/fixed_text.h"
#include "crypto/csp/context.h"
#include "crypto/csp/key.h"
#include "crypto/csp/provider_sizes.h"
#include "crypto/pkcs11/module_registry.h"
#include "crypto/pkcs11/object_finder.h"
#include "crypto/pkcs11/session.h"
#include "crypto/pkcs11/slot.h"
#include "crypto/pkcs11/templates.h"
#include "crypto/sha1/sha1.h"

namespace crypto::cards {
namespace {

// The longest container name the enumeration grows its buffer to.
constexpr DWORD longest_container_name = csp::provider_size_limit;

// A provider context opened here, released at destruction.
class provider_context : public csp::context {
public:
    provider_context(const char* container, const std::string& provider, std::uint32_t type, DWORD flags)
    {
        HCRYPTPROV handle = 0;
        if (CryptAcquireContextA(&handle, container, provider.empty() ? nullptr : provider.c_str(), type, flags))
            handle_ = handle;
    }
};

// The key's PUBLICKEYBLOB; empty when it cannot be read or its size is past
// the provider limit.
byte_vector export_public_key_blob(HCRYPTKEY key)
{
    byte_vector blob;
    csp::read_sized(
        [key](BYTE* data, DWORD* length) { return CryptExportKey(key, 0, PUBLICKEYBLOB, 0, data, length) != FALSE; },
        blob);
    return blob;
}

bool hash_matches(const byte_vector& key, const byte_vector& pkhash)
{
    sha1 digest;
    digest.init();
    digest.update(key.data(), static_cast<std::uint32_t>(key.size()));
    return digest.final() == pkhash;
}

// The container names of a provider. The length is reset to the buffer's
// size before every call and the buffer grows when a name does not fit, so a
// long name late in the walk is neither cut nor taken for the end. A list
// without an end is read no further than max_provider_containers names.
std::vector<std::string> container_names(HCRYPTPROV provider)
{
    std::vector<std::string> names;
    if (!provider)
        return names;
    DWORD length = 0;
    if (!CryptGetProvParam(provider, PP_ENUMCONTAINERS, nullptr, &length, CRYPT_FIRST) || length == 0)
        return names;
    std::vector<char> buffer(std::min(length, longest_container_name), '\0');
    DWORD flag = CRYPT_FIRST;
    while (names.size() < csp::max_provider_containers) {
        length = static_cast<DWORD>(buffer.size());
        if (!CryptGetProvParam(provider, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(buffer.data()), &length, flag)) {
            if (GetLastError() != ERROR_MORE_DATA || buffer.size() >= longest_container_name)
                break;
            const DWORD wanted = length > buffer.size() ? length : static_cast<DWORD>(buffer.size() * 2);
            buffer.assign(std::min(wanted, longest_container_name), '\0');
            continue;
        }
        const std::size_t filled = csp::written_part(length, buffer.size());
        names.emplace_back(buffer.data(), std::find(buffer.data(), buffer.data() + filled, '\0') - buffer.data());
        flag = CRYPT_NEXT;
    }
    return names;
}

}  // namespace

void scan_csp_provider_containers(const std::string& provider, std::uint32_t type, const byte_vector& pkhash,
                                  container_list& results)
{
    std::vector<std::string> names;
    {
        const provider_context verify(nullptr, provider, type, CRYPT_VERIFYCONTEXT | CRYPT_SILENT);
        names = container_names(verify.handle());
    }
    for (const auto& name : names)
        check_csp_container(provider, type, name, pkhash, results);
}

void check_csp_container(const std::string& provider, std::uint32_t type, const std::string& container,
                         const byte_vector& pkhash, container_list& results)
{
    const provider_context context(container.c_str(), provider, type, CRYPT_SILENT);
    const csp::key key(context);
    try {
        const byte_vector raw = public_key_from_blob(export_public_key_blob(key.handle()));
        if (raw.empty())
            throw std::runtime_error("Fatal error!");
        if (!hash_matches(raw, pkhash))
            return;
        container_info hit;
        hit.provname = provider;
        hit.provtype = type;
        hit.reader = context.get_param_string(PP_SMARTCARD_READER);
        hit.container = container;
        results.push_back(std::move(hit));
    } catch (const std::exception&) {
        // A container whose key cannot be read is skipped.
    }
}

void scan_pkcs11_slot(const std::shared_ptr<pkcs11::session>& token_session, const byte_vector& pkhash,
                      container_list& results, std::int32_t card_type, const reader_map& readers,
                      const pkcs11::slot& token_slot, pkcs11::object_budget& budget)
{
    const CK_SLOT_INFO slot_info = token_slot.get_info();
    const CK_TOKEN_INFO token = token_slot.get_token_info();
    const std::string reader = field_text(slot_info.slotDescription, sizeof(slot_info.slotDescription));
    const std::string serial = field_text(token.serialNumber, sizeof(token.serialNumber));
    const auto named = readers.find(reader);
    const std::int32_t type = named != readers.end() ? named->second.card_type : card_type;

    pkcs11::object_finder finder(token_session, pkcs11::pkcs11_public_key_template(), budget);
    while (const auto object = finder.next()) {
        try {
            const byte_vector id = object.get_attribute(CKA_ID);
            const byte_vector value = object.get_attribute(CKA_VALUE);
            if (value.empty())
                throw std::runtime_error("Fatal error!");
            if (!hash_matches(value, pkhash))
                continue;
            container_info hit;
            hit.reader = reader;
            hit.container = field_text(id.data(), id.size());
            hit.card_serial = serial;
            hit.card_type = type;
            hit.hardware = true;
            results.push_back(std::move(hit));
        } catch (const std::exception&) {
            // An object without a readable identifier or value is skipped.
        }
    }
}

void scan_pkcs11_module(const reader_entry& entry, const reader_map& readers, const byte_vector& pkhash,
                        container_list& results)
{
    if (!entry.family)
        return;
    const auto modules = pkcs11::loaded_pkcs11_modules();
    const auto module = modules.find(*entry.family);
    if (module == modules.end() || !module->second)
        return;
    pkcs11::object_budget budget;
    for (const auto& token_slot : module->second.slots()) {
        const auto token_session = token_slot.open_session(false);
        if (token_slot.supports_gost_2012())
            scan_pkcs11_slot(token_session, pkhash, results, entry.card_type, readers, token_slot, budget);
    }
}

}  // namespace crypto::cards
