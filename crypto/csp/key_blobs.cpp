#include "crypto/csp/key_blobs.h"

#include <stdexcept>

#include <boost/property_tree/ptree.hpp>

#include "crypto/encoding/base64.h"

namespace crypto::csp {
namespace {

constexpr std::uint8_t blob_version = 0x20;
constexpr std::uint32_t public_key_magic = 0x3147414D;  // "MAG1"
constexpr std::uint32_t session_key_magic = 0x374A51FD;
constexpr std::uint32_t calg_g28147 = 0x661E;

byte_vector read_base64(const boost::property_tree::ptree& tree, const char* key)
{
    return base64_decode(tree.get_child(key).data());
}

void append_u32(byte_vector& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void append(byte_vector& out, const byte_vector& part)
{
    out.insert(out.end(), part.begin(), part.end());
}

void append_header(byte_vector& out, std::uint8_t type, std::uint32_t alg_id)
{
    out.push_back(type);
    out.push_back(blob_version);
    out.push_back(0);
    out.push_back(0);
    append_u32(out, alg_id);
}

}  // namespace

session_key_info::session_key_info(const boost::property_tree::ptree& tree)
{
    parameters = read_base64(tree, "parameters");
    data = read_base64(tree, "data");
    mac = read_base64(tree, "mac");
    ukm = read_base64(tree, "ukm");
}

ephemeral_key_info::ephemeral_key_info(const boost::property_tree::ptree& tree)
{
    data = read_base64(tree, "data");
    parameters = read_base64(tree, "parameters");
    algorithm = tree.get_child("algorithm").data();
    const auto* info = CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, const_cast<char*>(algorithm.c_str()),
                                        CRYPT_PUBKEY_ALG_OID_GROUP_ID);
    if (!info)
        throw std::runtime_error("Invalid public key algorithm");
    alg_id = info->Algid;
}

byte_vector make_public_key_blob(const ephemeral_key_info& key)
{
    byte_vector blob;
    blob.reserve(16 + key.parameters.size() + key.data.size());
    append_header(blob, PUBLICKEYBLOB, key.alg_id);
    append_u32(blob, public_key_magic);
    append_u32(blob, static_cast<std::uint32_t>(key.data.size() * 8));
    append(blob, key.parameters);
    append(blob, key.data);
    return blob;
}

byte_vector make_session_key_blob(const session_key_info& key)
{
    byte_vector blob;
    blob.reserve(100);
    append_header(blob, SIMPLEBLOB, calg_g28147);
    append_u32(blob, session_key_magic);
    append_u32(blob, calg_g28147);
    append(blob, key.ukm);
    append(blob, key.data);
    append(blob, key.mac);
    append(blob, key.parameters);
    return blob;
}

}  // namespace crypto::csp
