#include "crypto/cards/smartcard_inventory.h"
#include "messages/commands.h"

namespace messages {

// "SmartcardList": the cards and tokens in the PC/SC readers.
command_result smartcard_list::execute(const json_tree&) const
{
    crypto::cards::smartcard_inventory inventory;
    inventory.collect_cards();
    json_tree list;
    if (const auto cards = inventory.list_cards())
        for (const auto& card : *cards)
            list.push_back({std::string(), card.to_ptree()});
    return list;
}

}  // namespace messages
