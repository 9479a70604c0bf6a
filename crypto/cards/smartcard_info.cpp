#include "crypto/cards/smartcard_info.h"

namespace crypto::cards {

boost::property_tree::ptree smartcard_info::to_ptree() const
{
    boost::property_tree::ptree node;
    node.put_child("reader", boost::property_tree::ptree(reader));
    node.put_child("type", boost::property_tree::ptree(std::to_string(type)));
    node.put_child("brand", boost::property_tree::ptree(brand));
    node.put_child("label", boost::property_tree::ptree(label));
    node.put_child("model", boost::property_tree::ptree(model));
    node.put_child("serial", boost::property_tree::ptree(serial));
    node.put_child("totalmem", boost::property_tree::ptree(std::to_string(totalmem)));
    node.put_child("freemem", boost::property_tree::ptree(std::to_string(freemem)));
    node.put_child("hardware", boost::property_tree::ptree(hardware ? "true" : "false"));
    return node;
}

}  // namespace crypto::cards
