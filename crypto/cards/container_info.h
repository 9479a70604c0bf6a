#pragma once
#include <cstdint>
#include <string>

#include <boost/property_tree/ptree.hpp>

namespace crypto::cards {

// One key container whose public key has the hash searched for: a CryptoAPI
// container (hardware false) or a key object on a PKCS#11 token (hardware true).
struct container_info {
    std::string provname;        // CryptoAPI provider name, "" on a token
    std::uint32_t provtype = 0;  // CryptoAPI provider type, 0 on a token
    std::string reader;          // PP_SMARTCARD_READER, or the token's slot description
    std::string container;       // container name, or the key's CKA_ID as text
    std::string card_serial;     // the token's serial number
    std::int32_t card_type = -1;
    bool hardware = false;

    // {"reader", "container", then "card_type" and "card_serial" on a token,
    //  "provname" and "provtype" otherwise, then "hardware"}.
    boost::property_tree::ptree to_ptree() const;
};

}  // namespace crypto::cards
