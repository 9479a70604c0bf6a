// GOST R 34.11-94 (CryptoPro) and GOST R 34.11-2012 against libgcrypt on
// random data of random lengths, fed to us in random pieces.
//
// Byte order: libgcrypt returns the Stribog digests in the same order as we
// do, the least significant byte of h first (its bytes 32..63 for the 256-bit
// hash), which is the byte-reversed form of the numbers RFC 6986 prints. The
// first test checks that on the RFC's example before anything relies on it.
#include <gtest/gtest.h>

#include <gcrypt.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "crypto/cpu_features.h"
#include "crypto/gost_3411_2012/gost_3411_12.h"
#include "crypto/gost_3411_2012/streebog_compress.h"
#include "crypto/gost_3411_94/gost_3411_94.h"

namespace {

using crypto::byte_vector;

void init_libgcrypt()
{
    static const bool ready = [] {
        gcry_check_version(nullptr);
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    (void)ready;
}

byte_vector libgcrypt_digest(int algorithm, const byte_vector& data)
{
    init_libgcrypt();
    byte_vector out(gcry_md_get_algo_dlen(algorithm));
    gcry_md_hash_buffer(algorithm, out.data(), data.data(), data.size());
    return out;
}

// Our digest with the message cut at the given points.
byte_vector our_digest(crypto::hash_algorithm& h, const byte_vector& data, std::vector<std::size_t> cuts)
{
    std::sort(cuts.begin(), cuts.end());
    h.init();
    std::size_t at = 0;
    for (const std::size_t cut : cuts) {
        h.update(data.data() + at, static_cast<std::uint32_t>(cut - at));
        at = cut;
    }
    h.update(data.data() + at, static_cast<std::uint32_t>(data.size() - at));
    return h.final();
}

struct random_case {
    byte_vector data;
    std::vector<std::size_t> cuts;
};

random_case make_case(std::mt19937& rng)
{
    // Mostly short messages around block edges, sometimes long ones.
    const std::size_t length = rng() % 8 == 0 ? rng() % 200000 : rng() % 700;
    random_case c;
    c.data.resize(length);
    for (auto& b : c.data) b = static_cast<std::uint8_t>(rng());
    const std::size_t pieces = rng() % 6;
    for (std::size_t i = 0; i < pieces; ++i) c.cuts.push_back(length == 0 ? 0 : rng() % (length + 1));
    return c;
}

TEST(GostReference, LibgcryptStribogByteOrderMatchesOurs)
{
    // RFC 6986 example 1, message and 512-bit digest as the RFC prints them.
    byte_vector m1(63);
    const std::string digits = "012345678901234567890123456789012345678901234567890123456789012";
    std::copy(digits.begin(), digits.end(), m1.begin());
    const std::string printed =
        "486f64c1917879417fef082b3381a4e211c324f074654c38823a7b76f830ad00"
        "fa1fbae42b1285c0352f227524bc9ab16254288dd6863dccd5b9f54a1ad0541b";
    byte_vector expected;
    for (std::size_t i = 0; i < printed.size(); i += 2) {
        expected.push_back(static_cast<std::uint8_t>(std::stoul(printed.substr(i, 2), nullptr, 16)));
    }
    std::reverse(expected.begin(), expected.end());
    EXPECT_EQ(libgcrypt_digest(GCRY_MD_STRIBOG512, m1), expected);
    crypto::gost_3411_12_512 ours;
    EXPECT_EQ(our_digest(ours, m1, {}), expected);
}

// Each path by the features switched off: all on, no AVX-512/GFNI (the SSE2
// table loop in the VEX encoding where AVX2 is there), no AVX2 either (the
// plain SSE2 loop), and none (portable).
struct stribog_path {
    const char* name;
    std::uint32_t switched_off;
};

const stribog_path stribog_paths[] = {
    {"Selected", 0},
    {"NoAvx512", crypto::detail::cpu_avx512 | crypto::detail::cpu_gfni},
    {"NoAvx2", crypto::detail::cpu_avx512 | crypto::detail::cpu_gfni | crypto::detail::cpu_avx2},
    {"Portable", crypto::detail::cpu_all_features},
};

class stribog_reference : public ::testing::TestWithParam<stribog_path> {
protected:
    void SetUp() override { crypto::detail::cpu_features_switch_off(GetParam().switched_off); }
    void TearDown() override { crypto::detail::cpu_features_switch_off(0); }
};

TEST_P(stribog_reference, RandomMessagesMatchLibgcrypt)
{
    std::mt19937 rng(2012 + GetParam().switched_off);
    crypto::gost_3411_12_256 h256;
    crypto::gost_3411_12_512 h512;
    for (int round = 0; round < 300; ++round) {
        const random_case c = make_case(rng);
        SCOPED_TRACE("length " + std::to_string(c.data.size()) + ", " + std::to_string(c.cuts.size()) + " cuts");
        EXPECT_EQ(our_digest(h256, c.data, c.cuts), libgcrypt_digest(GCRY_MD_STRIBOG256, c.data));
        EXPECT_EQ(our_digest(h512, c.data, c.cuts), libgcrypt_digest(GCRY_MD_STRIBOG512, c.data));
    }
}

std::string path_name(const ::testing::TestParamInfo<stribog_path>& param_info)
{
    return param_info.param.name;
}

INSTANTIATE_TEST_SUITE_P(GostReference, stribog_reference, ::testing::ValuesIn(stribog_paths), path_name);

TEST(GostReference, Gost94RandomMessagesMatchLibgcrypt)
{
    std::mt19937 rng(1994);
    crypto::gost_3411_94 h;
    for (int round = 0; round < 300; ++round) {
        const random_case c = make_case(rng);
        SCOPED_TRACE("length " + std::to_string(c.data.size()) + ", " + std::to_string(c.cuts.size()) + " cuts");
        EXPECT_EQ(our_digest(h, c.data, c.cuts), libgcrypt_digest(GCRY_MD_GOSTR3411_CP, c.data));
    }
}

TEST(GostReference, LongUniformMessagesMatchLibgcrypt)
{
    // Every length from 0 to 300 bytes of one repeated value crosses each
    // block edge of both hashes with and without a partial last block.
    crypto::gost_3411_94 h94;
    crypto::gost_3411_12_256 h256;
    crypto::gost_3411_12_512 h512;
    for (std::size_t length = 0; length <= 300; ++length) {
        const byte_vector data(length, static_cast<std::uint8_t>(0xFF - length % 7));
        SCOPED_TRACE("length " + std::to_string(length));
        EXPECT_EQ(our_digest(h94, data, {}), libgcrypt_digest(GCRY_MD_GOSTR3411_CP, data));
        EXPECT_EQ(our_digest(h256, data, {}), libgcrypt_digest(GCRY_MD_STRIBOG256, data));
        EXPECT_EQ(our_digest(h512, data, {}), libgcrypt_digest(GCRY_MD_STRIBOG512, data));
    }
}

}  // namespace
