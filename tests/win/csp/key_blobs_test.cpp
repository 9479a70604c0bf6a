#include <gtest/gtest.h>

#include <stdexcept>

#include <boost/property_tree/ptree.hpp>

#include "crypto/csp/key_blobs.h"
#include "crypto/encoding/base64.h"

namespace {

using crypto::byte_vector;
using tree = boost::property_tree::ptree;

byte_vector fill(std::size_t n, std::uint8_t first)
{
    byte_vector out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(first + i);
    return out;
}

std::uint32_t u32_at(const byte_vector& blob, std::size_t offset)
{
    return blob[offset] | (blob[offset + 1] << 8) | (blob[offset + 2] << 16) |
           (static_cast<std::uint32_t>(blob[offset + 3]) << 24);
}

TEST(KeyBlobs, PublicKeyBlobLaysOutHeaderParametersAndKey)
{
    crypto::csp::ephemeral_key_info key;
    key.data = fill(64, 0x40);
    key.parameters = fill(9, 0x10);
    key.alg_id = 0xAA49;
    const auto blob = crypto::csp::make_public_key_blob(key);
    ASSERT_EQ(blob.size(), 16u + 9u + 64u);
    EXPECT_EQ(blob[0], PUBLICKEYBLOB);
    EXPECT_EQ(blob[1], 0x20);
    EXPECT_EQ(blob[2], 0);
    EXPECT_EQ(blob[3], 0);
    EXPECT_EQ(u32_at(blob, 4), 0xAA49u);
    EXPECT_EQ(byte_vector(blob.begin() + 8, blob.begin() + 12), (byte_vector{'M', 'A', 'G', '1'}));
    EXPECT_EQ(u32_at(blob, 12), 512u);
    EXPECT_EQ(byte_vector(blob.begin() + 16, blob.begin() + 25), key.parameters);
    EXPECT_EQ(byte_vector(blob.begin() + 25, blob.end()), key.data);
}

TEST(KeyBlobs, SessionKeyBlobLaysOutUkmKeyMacParameters)
{
    crypto::csp::session_key_info key;
    key.ukm = fill(8, 0x01);
    key.data = fill(32, 0x20);
    key.mac = fill(4, 0x90);
    key.parameters = fill(11, 0xA0);
    const auto blob = crypto::csp::make_session_key_blob(key);
    ASSERT_EQ(blob.size(), 16u + 8u + 32u + 4u + 11u);
    EXPECT_EQ(blob[0], SIMPLEBLOB);
    EXPECT_EQ(blob[1], 0x20);
    EXPECT_EQ(u32_at(blob, 4), 0x661Eu);
    EXPECT_EQ(u32_at(blob, 8), 0x374A51FDu);
    EXPECT_EQ(u32_at(blob, 12), 0x661Eu);
    byte_vector expected_tail = key.ukm;
    for (const auto* part : {&key.data, &key.mac, &key.parameters})
        expected_tail.insert(expected_tail.end(), part->begin(), part->end());
    EXPECT_EQ(byte_vector(blob.begin() + 16, blob.end()), expected_tail);

    // Parts of any length are laid end to end; the provider judges the blob.
    const auto empty = crypto::csp::make_session_key_blob(crypto::csp::session_key_info());
    EXPECT_EQ(empty.size(), 16u);
}

tree session_tree()
{
    tree t;
    t.put("parameters", crypto::base64_encode(fill(3, 1)));
    t.put("data", crypto::base64_encode(fill(4, 2)));
    t.put("mac", crypto::base64_encode(fill(5, 3)));
    t.put("ukm", crypto::base64_encode(fill(6, 4)));
    return t;
}

TEST(KeyBlobs, SessionKeyRecordReadsFourBase64Parts)
{
    const crypto::csp::session_key_info info(session_tree());
    EXPECT_EQ(info.parameters, fill(3, 1));
    EXPECT_EQ(info.data, fill(4, 2));
    EXPECT_EQ(info.mac, fill(5, 3));
    EXPECT_EQ(info.ukm, fill(6, 4));

    // Read in the order parameters, data, mac, ukm: the first missing one is named.
    tree without_mac_and_ukm = session_tree();
    without_mac_and_ukm.erase("mac");
    without_mac_and_ukm.erase("ukm");
    try {
        crypto::csp::session_key_info{without_mac_and_ukm};
        ADD_FAILURE();
    } catch (const boost::property_tree::ptree_bad_path& e) {
        EXPECT_STREQ(e.what(), "No such node (mac)");
    }
    tree bad = session_tree();
    bad.put("data", "not*base64");
    EXPECT_THROW(crypto::csp::session_key_info{bad}, std::exception);
}

TEST(KeyBlobs, EphemeralKeyRecordLooksUpThePublicKeyAlgorithm)
{
    tree t;
    t.put("data", crypto::base64_encode(fill(64, 7)));
    t.put("parameters", crypto::base64_encode(fill(2, 9)));
    t.put("algorithm", "1.2.840.113549.1.1.1");  // RSA public key
    const crypto::csp::ephemeral_key_info info(t);
    EXPECT_EQ(info.data, fill(64, 7));
    EXPECT_EQ(info.parameters, fill(2, 9));
    EXPECT_EQ(info.algorithm, "1.2.840.113549.1.1.1");
    EXPECT_EQ(info.alg_id, static_cast<ALG_ID>(CALG_RSA_KEYX));

    // A hash OID is not a public-key algorithm.
    for (const char* oid : {"2.16.840.1.101.3.4.2.1", "1.2.3.4.5", ""}) {
        t.put("algorithm", oid);
        try {
            crypto::csp::ephemeral_key_info{t};
            ADD_FAILURE() << oid;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Invalid public key algorithm") << oid;
        }
    }
}

}  // namespace
