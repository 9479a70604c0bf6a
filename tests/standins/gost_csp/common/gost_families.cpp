#include "gost_families.h"

#include <stdexcept>

#include "der_writer.h"
#include "gost_standin.h"

namespace gost_standin {

const std::vector<key_family>& key_families()
{
    static const std::vector<key_family> families = {
        {"2001", prov_gost_2001, provider_name_2001, calg_gr3410el, calg_dh_el_sf, calg_dh_el_ephem,
         calg_gr3411, calg_pro_export, 32, 64, 64, "1.2.643.2.2.19", "1.2.643.2.2.3", "1.2.643.2.2.9",
         "1.2.643.2.2.98", "1.2.643.2.2.35.1", "1.2.643.2.2.30.1", "1.2.643.2.2.31.1"},
        {"2012-256", prov_gost_2012_256, provider_name_2012_256, calg_gr3410_12_256, calg_dh_gr3410_12_256_sf,
         calg_dh_gr3410_12_256_ephem, calg_gr3411_2012_256, calg_pro12_export, 32, 64, 64, "1.2.643.7.1.1.1.1",
         "1.2.643.7.1.1.3.2", "1.2.643.7.1.1.2.2", "1.2.643.7.1.1.6.1", "1.2.643.2.2.35.1", "1.2.643.7.1.1.2.2",
         "1.2.643.7.1.2.5.1.1"},
        {"2012-512", prov_gost_2012_512, provider_name_2012_512, calg_gr3410_12_512, calg_dh_gr3410_12_512_sf,
         calg_dh_gr3410_12_512_ephem, calg_gr3411_2012_512, calg_pro12_export, 64, 128, 128, "1.2.643.7.1.1.1.2",
         "1.2.643.7.1.1.3.3", "1.2.643.7.1.1.2.3", "1.2.643.7.1.1.6.2", "1.2.643.7.1.2.1.2.1", "1.2.643.7.1.1.2.3",
         "1.2.643.7.1.2.5.1.1"},
    };
    return families;
}

const key_family* family_by_label(const std::string& label)
{
    for (const auto& family : key_families())
        if (label == family.label) return &family;
    return nullptr;
}

const key_family* family_by_provider_type(std::uint32_t type)
{
    // The second family's types serve the same key families.
    if (type == prov_family2_2001) type = prov_gost_2001;
    if (type == prov_family2_2012_256) type = prov_gost_2012_256;
    if (type == prov_family2_2012_512) type = prov_gost_2012_512;
    for (const auto& family : key_families())
        if (family.provider_type == type) return &family;
    return nullptr;
}

const key_family* family_by_key_alg(std::uint32_t alg)
{
    for (const auto& family : key_families())
        if (family.sign_alg == alg || family.exchange_alg == alg || family.ephemeral_alg == alg) return &family;
    return nullptr;
}

const key_family* family_by_hash_alg(std::uint32_t alg)
{
    for (const auto& family : key_families())
        if (family.hash_alg == alg) return &family;
    return nullptr;
}

std::vector<std::uint8_t> oid_der(const std::string& dotted)
{
    return standin::der::oid(dotted);
}

std::vector<std::uint8_t> key_parameters_der(const key_family& family)
{
    return standin::der::sequence({oid_der(family.key_param_oid), oid_der(family.digest_param_oid)});
}

std::vector<std::uint8_t> cipher_parameters_der(const key_family& family)
{
    return standin::der::sequence({oid_der(family.cipher_param_oid)});
}

}  // namespace gost_standin
