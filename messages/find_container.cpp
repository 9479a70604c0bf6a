#include <set>

#include "crypto/cards/container_search.h"
#include "crypto/csp/providers.h"
#include "crypto/encoding/base64.h"
#include "messages/commands.h"

namespace messages {

// "FindContainer": the key containers whose public key has the SHA-1 hash
// "pkhash" (base64): first those of the GOST R 34.11-2012 providers, then the
// keys on the tokens in the readers.
command_result find_container::execute(const json_tree& arguments) const
{
    const crypto::byte_vector pkhash = crypto::base64_decode(arguments.get<std::string>("pkhash"));
    crypto::cards::container_list hits;
    for (const auto& provider : crypto::csp::list_providers({"1.2.643.7.1.1.2.2"}))
        crypto::cards::scan_csp_provider_containers(provider.name, provider.type, pkhash, hits);

    // Each family's module is scanned once, started by its first reader in
    // name order, so that a key is reported once however many of the
    // family's cards are present.
    crypto::cards::smartcard_inventory inventory;
    inventory.scan_readers();
    if (const auto* readers = inventory.readers()) {
        std::set<std::string> scanned;
        for (const auto& [name, entry] : *readers)
            if (entry.family && scanned.insert(*entry.family).second)
                crypto::cards::scan_pkcs11_module(entry, *readers, pkhash, hits);
    }

    json_tree list;
    for (const auto& hit : hits)
        list.push_back({std::string(), hit.to_ptree()});
    return list;
}

}  // namespace messages
