#include "csp_objects.h"

#include <cstring>

#include "common/gost_standin.h"
#include "crypto/random.h"

namespace gost_standin {

object_tables& object_tables::instance()
{
    static object_tables tables;
    return tables;
}

HCRYPTPROV object_tables::add(std::unique_ptr<context> ctx)
{
    const ULONG_PTR handle = next_++;
    contexts_[handle] = std::move(ctx);
    return handle;
}

HCRYPTKEY object_tables::add(std::unique_ptr<key_object> key)
{
    const ULONG_PTR handle = next_++;
    keys_[handle] = std::move(key);
    return handle;
}

HCRYPTHASH object_tables::add(std::unique_ptr<hash_object> hash)
{
    const ULONG_PTR handle = next_++;
    hashes_[handle] = std::move(hash);
    return handle;
}

context& object_tables::get_context(HCRYPTPROV handle)
{
    const auto it = contexts_.find(handle);
    if (it == contexts_.end()) throw csp_error(NTE_BAD_UID);
    return *it->second;
}

key_object& object_tables::get_key(HCRYPTPROV owner, HCRYPTKEY handle)
{
    get_context(owner);
    const auto it = keys_.find(handle);
    if (it == keys_.end() || it->second->owner != owner) throw csp_error(NTE_BAD_KEY);
    return *it->second;
}

hash_object& object_tables::get_hash(HCRYPTPROV owner, HCRYPTHASH handle)
{
    get_context(owner);
    const auto it = hashes_.find(handle);
    if (it == hashes_.end() || it->second->owner != owner) throw csp_error(NTE_BAD_HASH);
    return *it->second;
}

void object_tables::remove_context(HCRYPTPROV handle)
{
    get_context(handle);
    for (auto it = keys_.begin(); it != keys_.end();) it = it->second->owner == handle ? keys_.erase(it) : ++it;
    for (auto it = hashes_.begin(); it != hashes_.end();)
        it = it->second->owner == handle ? hashes_.erase(it) : ++it;
    contexts_.erase(handle);
}

void object_tables::remove_key(HCRYPTPROV owner, HCRYPTKEY handle)
{
    get_key(owner, handle);
    keys_.erase(handle);
}

void object_tables::remove_hash(HCRYPTPROV owner, HCRYPTHASH handle)
{
    get_hash(owner, handle);
    hashes_.erase(handle);
}

void copy_out(const void* data, std::size_t size, BYTE* buffer, DWORD* length)
{
    if (!length) throw csp_error(ERROR_INVALID_PARAMETER);
    const DWORD needed = static_cast<DWORD>(size);
    if (!buffer) {
        *length = needed;
        return;
    }
    if (*length < needed) {
        *length = needed;
        throw csp_error(ERROR_MORE_DATA);
    }
    if (size) std::memcpy(buffer, data, size);
    *length = needed;
}

void copy_out_string(const std::string& text, BYTE* buffer, DWORD* length)
{
    copy_out(text.c_str(), text.size() + 1, buffer, length);
}

void authorize_private_use(context& ctx)
{
    if (!ctx.has_container) throw csp_error(NTE_BAD_KEYSET);
    if (ctx.verify_only) throw csp_error(NTE_PERM);
    const std::string& required = ctx.container.pin;
    if (required.empty()) return;
    if (ctx.pin_given) {
        if (ctx.pin == required) return;
        throw csp_error(SCARD_W_WRONG_CHV);
    }
    // The PIN would have to be asked for now.
    if (ctx.silent) throw csp_error(NTE_SILENT_CONTEXT);
    char typed[256];
    const DWORD n = GetEnvironmentVariableA(prompt_pin_variable, typed, sizeof typed);
    if (n == 0 || n >= sizeof typed) throw csp_error(SCARD_W_CANCELLED_BY_USER);
    if (std::string(typed, n) != required) throw csp_error(SCARD_W_WRONG_CHV);
    ctx.pin_given = true;
    ctx.pin = required;
}

const std::vector<algorithm_info>& algorithm_table()
{
    static const std::vector<algorithm_info> table = {
        {calg_gr3411, 256, "GR 34.11-94", "GOST R 34.11-94", prov_gost_2001},
        {calg_gr3411_2012_256, 256, "GR 34.11-2012 256", "GOST R 34.11-2012 256 bit", prov_gost_2012_256},
        {calg_gr3411_2012_512, 512, "GR 34.11-2012 512", "GOST R 34.11-2012 512 bit", prov_gost_2012_512},
        {calg_g28147, 256, "GOST 28147-89", "GOST 28147-89", prov_gost_2001},
        {calg_gr3410el, 512, "GR 34.10-2001", "GOST R 34.10-2001", prov_gost_2001},
        {calg_dh_el_sf, 512, "DH 34.10-2001", "GOST R 34.10-2001 DH", prov_gost_2001},
        {calg_dh_el_ephem, 512, "DH 34.10-2001 EPH", "GOST R 34.10-2001 DH ephemeral", prov_gost_2001},
        {calg_gr3410_12_256, 512, "GR 34.10-2012 256", "GOST R 34.10-2012 256 bit", prov_gost_2012_256},
        {calg_dh_gr3410_12_256_sf, 512, "DH 34.10-2012 256", "GOST R 34.10-2012 256 bit DH", prov_gost_2012_256},
        {calg_dh_gr3410_12_256_ephem, 512, "DH 34.10-12 256 EPH", "GOST R 34.10-2012 256 bit DH ephemeral",
         prov_gost_2012_256},
        {calg_gr3410_12_512, 1024, "GR 34.10-2012 512", "GOST R 34.10-2012 512 bit", prov_gost_2012_512},
        {calg_dh_gr3410_12_512_sf, 1024, "DH 34.10-2012 512", "GOST R 34.10-2012 512 bit DH", prov_gost_2012_512},
        {calg_dh_gr3410_12_512_ephem, 1024, "DH 34.10-12 512 EPH", "GOST R 34.10-2012 512 bit DH ephemeral",
         prov_gost_2012_512},
        {calg_pro_export, 256, "PRO EXPORT", "CryptoAPI GOST key export", prov_gost_2001},
        {calg_pro12_export, 256, "PRO12 EXPORT", "CryptoAPI GOST 2012 key export", prov_gost_2012_256},
    };
    return table;
}

bool provider_supports(const context& ctx, ALG_ID alg)
{
    for (const auto& info : algorithm_table())
        // By the key family, so that the second family's types list the same.
        if (info.alg == alg) return ctx.family && ctx.family->provider_type >= info.lowest_type;
    return false;
}

std::string unique_container_name(const container_record& record)
{
    return std::string("\\\\.\\") + (record.reader.empty() ? store_pseudo_reader : record.reader) + "\\" +
           record.name;
}

bytes random_bytes(std::size_t count)
{
    bytes out(count);
    crypto::random_bytes(out.data(), out.size());
    return out;
}

}  // namespace gost_standin
