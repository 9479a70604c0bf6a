#pragma once
#include <cstdint>
#include <string>

#include <boost/property_tree/ptree.hpp>

namespace crypto::cards {

// One smart card or token as SmartcardList reports it.
struct smartcard_info {
    std::string reader;  // PC/SC reader name (UTF-8)
    std::int32_t type = -1;
    std::string brand;   // model name of the card's ATR row
    std::string label;
    std::string model;
    std::string serial;
    std::int32_t totalmem = -1;
    std::int32_t freemem = -1;
    bool hardware = false;  // the token signs GOST R 34.10-2012 on board

    // {"reader", "type", "brand", "label", "model", "serial", "totalmem",
    //  "freemem", "hardware"}, every value text.
    boost::property_tree::ptree to_ptree() const;
};

}  // namespace crypto::cards
