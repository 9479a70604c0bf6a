#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <string>

#include <boost/property_tree/ptree_fwd.hpp>

#include "crypto/byte_vector.h"

namespace crypto::csp {

// A GOST 28147-89 session key wrapped for the user, as a request carries it.
struct session_key_info {
    // Reads "parameters", "data", "mac", "ukm" (base64) in that order.
    explicit session_key_info(const boost::property_tree::ptree& tree);
    session_key_info() = default;

    byte_vector parameters;
    byte_vector data;
    byte_vector ukm;
    byte_vector mac;
};

// A sender's ephemeral GOST public key.
struct ephemeral_key_info {
    // Reads "data", "parameters" (base64) and "algorithm" (OID); an OID that
    // CryptoAPI does not know as a public-key algorithm throws
    // std::runtime_error "Invalid public key algorithm".
    explicit ephemeral_key_info(const boost::property_tree::ptree& tree);
    ephemeral_key_info() = default;

    byte_vector data;
    byte_vector parameters;
    std::string algorithm;
    ALG_ID alg_id = 0;
};

// PUBLICKEYBLOB: header, "MAG1", bit length of the key, parameters, key.
byte_vector make_public_key_blob(const ephemeral_key_info& key);
// SIMPLEBLOB of a GOST 28147-89 key: header, ukm, encrypted key, mac, parameters.
// The parts are laid end to end as given; the provider judges the result.
byte_vector make_session_key_blob(const session_key_info& key);

}  // namespace crypto::csp
