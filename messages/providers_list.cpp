#include "crypto/csp/providers.h"
#include "messages/commands.h"
#include "messages/get_string_array.h"

namespace messages {

// "ProvidersList": the installed CryptoAPI providers that support at least one
// of the "algorithms" OIDs, in enumeration order.
command_result providers_list::execute(const json_tree& arguments) const
{
    const auto oids = get_string_array(arguments, "algorithms");
    json_tree list;
    for (const auto& provider : crypto::csp::list_providers(oids)) {
        json_tree entry;
        entry.put_child("type", json_tree(std::to_string(provider.type)));
        entry.put_child("name", json_tree(provider.name));
        list.push_back({std::string(), entry});
    }
    return list;
}

}  // namespace messages
