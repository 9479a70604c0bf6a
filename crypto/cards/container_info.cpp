#include "crypto/cards/container_info.h"

namespace crypto::cards {

boost::property_tree::ptree container_info::to_ptree() const
{
    using boost::property_tree::ptree;
    ptree node;
    node.put_child("reader", ptree(reader));
    node.put_child("container", ptree(container));
    if (hardware) {
        node.put_child("card_type", ptree(std::to_string(card_type)));
        node.put_child("card_serial", ptree(card_serial));
    } else {
        node.put_child("provname", ptree(provname));
        node.put_child("provtype", ptree(std::to_string(provtype)));
    }
    node.put_child("hardware", ptree(hardware ? "true" : "false"));
    return node;
}

}  // namespace crypto::cards
