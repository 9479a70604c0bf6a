// The two hash factories: which object each identifier makes, and the
// identifiers that make none.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "crypto/hash_algorithm.h"
#include "crypto/sha1/sha1.h"
#include "crypto/sha2/sha256.h"
#include "crypto/sha2/sha512.h"

namespace {

using crypto::hash_algorithm;

std::string to_hex(const crypto::byte_vector& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

// init, "abc", final, twice on the same object: both digests must be the
// expected one.
void expect_abc_twice(hash_algorithm& h, const std::string& expected)
{
    for (int pass = 0; pass < 2; ++pass) {
        h.init();
        h.update("abc", 3);
        EXPECT_EQ(to_hex(h.final()), expected) << "pass " << pass;
    }
}

const char sha1_abc[] = "a9993e364706816aba3e25717850c26c9cd0d89d";
const char sha256_abc[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const char sha384_abc[] =
    "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7";
const char sha512_abc[] =
    "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
    "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f";

TEST(hash_factory_oid, sha_rows_make_the_sha_classes)
{
    const auto h1 = crypto::make_hash_algorithm_from_oid("1.3.14.3.2.26");
    const auto h256 = crypto::make_hash_algorithm_from_oid("1.2.840.113549.1.1.11");
    const auto h384 = crypto::make_hash_algorithm_from_oid("1.2.840.113549.1.1.12");
    const auto h512 = crypto::make_hash_algorithm_from_oid("1.2.840.113549.1.1.13");
    ASSERT_NE(std::dynamic_pointer_cast<crypto::sha1>(h1), nullptr);
    ASSERT_NE(std::dynamic_pointer_cast<crypto::sha256>(h256), nullptr);
    ASSERT_NE(std::dynamic_pointer_cast<crypto::sha384>(h384), nullptr);
    ASSERT_NE(std::dynamic_pointer_cast<crypto::sha512>(h512), nullptr);
    expect_abc_twice(*h1, sha1_abc);
    expect_abc_twice(*h256, sha256_abc);
    expect_abc_twice(*h384, sha384_abc);
    expect_abc_twice(*h512, sha512_abc);
}

TEST(hash_factory_oid, every_row_has_its_digest_size)
{
    const struct {
        const char* oid;
        int size;
    } rows[] = {
        {"1.3.14.3.2.26", 20},          {"1.2.643.2.2.9", 32},          {"1.2.643.7.1.1.2.2", 32},
        {"1.2.643.7.1.1.2.3", 64},      {"1.2.840.113549.1.1.11", 32}, {"1.2.840.113549.1.1.12", 48},
        {"1.2.840.113549.1.1.13", 64},
    };
    for (const auto& row : rows) {
        const auto h = crypto::make_hash_algorithm_from_oid(row.oid);
        ASSERT_NE(h, nullptr) << row.oid;
        EXPECT_EQ(h->size(), row.size) << row.oid;
    }
}

TEST(hash_factory_oid, other_texts_make_nothing)
{
    for (const char* oid : {"2.16.840.1.101.3.4.2.1",  // the hash OID of SHA-256
                            "2.16.840.1.101.3.4.2.3", "", "1.3.14.3.2.26 ", " 1.3.14.3.2.26",
                            "1.3.14.3.2.2", "1.3.14.3.2.266", "1.2.840.113549.1.1.5"}) {
        EXPECT_EQ(crypto::make_hash_algorithm_from_oid(oid), nullptr) << '"' << oid << '"';
    }
    // Compared as a whole string, not as a C string up to the first NUL.
    EXPECT_EQ(crypto::make_hash_algorithm_from_oid(std::string("1.3.14.3.2.26\0", 14)), nullptr);
}

TEST(hash_factory_alg_id, sha_rows_make_the_sha_classes)
{
    const auto h256 = crypto::make_hash_algorithm_from_alg_id(0x800C);
    const auto h384 = crypto::make_hash_algorithm_from_alg_id(0x800D);
    const auto h512 = crypto::make_hash_algorithm_from_alg_id(0x800E);
    ASSERT_NE(std::dynamic_pointer_cast<crypto::sha256>(h256), nullptr);
    ASSERT_NE(std::dynamic_pointer_cast<crypto::sha384>(h384), nullptr);
    ASSERT_NE(std::dynamic_pointer_cast<crypto::sha512>(h512), nullptr);
    expect_abc_twice(*h256, sha256_abc);
    expect_abc_twice(*h384, sha384_abc);
    expect_abc_twice(*h512, sha512_abc);
}

TEST(hash_factory_alg_id, gost_rows_have_their_digest_size)
{
    const struct {
        std::uint32_t alg_id;
        int size;
    } rows[] = {{0x801E, 32}, {0x8021, 32}, {0x8022, 64}};
    for (const auto& row : rows) {
        const auto h = crypto::make_hash_algorithm_from_alg_id(row.alg_id);
        ASSERT_NE(h, nullptr) << std::hex << row.alg_id;
        EXPECT_EQ(h->size(), row.size) << std::hex << row.alg_id;
    }
}

TEST(hash_factory_alg_id, other_values_make_nothing)
{
    for (std::uint32_t alg_id : {0x8004u /* CALG_SHA1 */, 0x8003u, 0x800Fu, 0x801Fu, 0x8020u, 0x8023u, 0u,
                                 0x0001800Cu, 0xFFFFFFFFu}) {
        EXPECT_EQ(crypto::make_hash_algorithm_from_alg_id(alg_id), nullptr) << std::hex << alg_id;
    }
}

}  // namespace
