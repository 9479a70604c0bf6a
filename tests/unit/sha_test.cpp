// SHA-1 and SHA-2: FIPS 180-4 vectors, padding edges, the update/init/final
// contract, and agreement between the portable and the accelerated
// compression functions.
#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <functional>
#include <iterator>
#include <ostream>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "crypto/sha1/sha1.h"
#include "crypto/sha1/sha1_dispatch.h"
#include "crypto/sha2/sha256.h"
#include "crypto/sha2/sha256_dispatch.h"
#include "crypto/sha2/sha512.h"
#include "crypto/sha2/sha512_dispatch.h"
#include "crypto/cpu_features.h"

namespace {

using crypto::byte_vector;
using crypto::hash_algorithm;

std::string to_hex(const byte_vector& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

byte_vector bytes_of(const std::string& text) { return byte_vector(text.begin(), text.end()); }

// Byte i of the padding-edge messages.
std::uint8_t pattern_byte(std::size_t i) { return static_cast<std::uint8_t>(i * 37 + 11); }

byte_vector pattern(std::size_t length)
{
    byte_vector data(length);
    for (std::size_t i = 0; i < length; ++i) data[i] = pattern_byte(i);
    return data;
}

byte_vector digest_whole(hash_algorithm& h, const byte_vector& data)
{
    h.init();
    h.update(data.data(), static_cast<std::uint32_t>(data.size()));
    return h.final();
}

byte_vector digest_bytewise(hash_algorithm& h, const byte_vector& data)
{
    h.init();
    for (std::uint8_t b : data) h.update(&b, 1);
    return h.final();
}

const std::string m448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string m896 =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";

struct algorithm_case {
    const char* name;
    std::function<std::unique_ptr<hash_algorithm>()> make;
    int size;
    const char* abc;
    const char* empty;
    const char* of_m448;
    const char* of_m896;
    const char* million_a;
    // Digest of the concatenated digests of the pattern messages of 0 to 300
    // bytes: one known answer that covers every padding boundary.
    const char* padding_chain;
};

const algorithm_case algorithms[] = {
    {"sha1", [] { return std::make_unique<crypto::sha1>(); }, 20,
     "a9993e364706816aba3e25717850c26c9cd0d89d",
     "da39a3ee5e6b4b0d3255bfef95601890afd80709",
     "84983e441c3bd26ebaae4aa1f95129e5e54670f1",
     "a49b2446a02c645bf419f995b67091253a04a259",
     "34aa973cd4c4daa4f61eeb2bdbad27316534016f",
     "11052afec6c3c5c4c6e67f2e8e6b11ab1d2fb7f9"},
    {"sha256", [] { return std::make_unique<crypto::sha256>(); }, 32,
     "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
     "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
     "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1",
     "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
     "04fb0a96a55968fbda07295fecba14af486380896cc1d6946aa2da7478e5d0ba"},
    {"sha384", [] { return std::make_unique<crypto::sha384>(); }, 48,
     "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7",
     "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898b95b",
     "3391fdddfc8dc7393707a65b1b4709397cf8b1d162af05abfe8f450de5f36bc6b0455a8520bc4e6f5fe95b1fe3c8452b",
     "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa91746039",
     "9d0e1809716474cb086e834e310a4a1ced149e9c00f248527972cec5704c2a5b07b8b3dc38ecc4ebae97ddd87f3d8985",
     "d803e07c85eaa5f377be799457806adfc24db720a231dc2dc7570bcaa0e6bd2197f9af21d73efddb64328b2ba15c4ca9"},
    {"sha512", [] { return std::make_unique<crypto::sha512>(); }, 64,
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
     "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f",
     "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
     "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e",
     "204a8fc6dda82f0a0ced7beb8e08a41657c16ef468b228a8279be331a703c335"
     "96fd15c13b1b07f9aa1d3bea57789ca031ad85c7a71dd70354ec631238ca3445",
     "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018"
     "501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909",
     "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973eb"
     "de0ff244877ea60a4cb0432ce577c31beb009c5c2c49aa2e4eadb217ad8cc09b",
     "54765194fdf17bd98b3f4cf87bfaf2330ef1e3c2a9713ddecedbc736f24764cb"
     "122a6ad8a33a89181685f0196c3461ffd32e3296ec20b0f5d5a6e0b1b130db66"},
};

void PrintTo(const algorithm_case& c, std::ostream* os) { *os << c.name; }

// The compression functions each case runs with, chosen by switching
// processor features off: whatever the processor selects (SHA extensions,
// AVX2), the same without AVX2 (the SSSE3 SHA-512 of the i686 build), and the
// portable ones.
struct compression_choice {
    const char* name;
    std::uint32_t switched_off;
};

const compression_choice compression_choices[] = {
    {"selected", 0},
    {"no_avx2", crypto::detail::cpu_avx2},
    {"portable", crypto::detail::cpu_all_features},
};

void PrintTo(const compression_choice& c, std::ostream* os) { *os << c.name; }

class sha_digest : public testing::TestWithParam<std::tuple<algorithm_case, compression_choice>> {
protected:
    void SetUp() override
    {
        crypto::detail::cpu_features_switch_off(std::get<1>(GetParam()).switched_off);
        hash_ = std::get<0>(GetParam()).make();
    }
    void TearDown() override { crypto::detail::cpu_features_switch_off(0); }

    const algorithm_case& algorithm() const { return std::get<0>(GetParam()); }
    hash_algorithm& hash() { return *hash_; }

private:
    std::unique_ptr<hash_algorithm> hash_;
};

TEST_P(sha_digest, fips_180_4_vectors)
{
    EXPECT_EQ(to_hex(digest_whole(hash(), bytes_of("abc"))), algorithm().abc);
    EXPECT_EQ(to_hex(digest_whole(hash(), {})), algorithm().empty);
    EXPECT_EQ(to_hex(digest_whole(hash(), bytes_of(m448))), algorithm().of_m448);
    EXPECT_EQ(to_hex(digest_whole(hash(), bytes_of(m896))), algorithm().of_m896);
    EXPECT_EQ(to_hex(digest_whole(hash(), byte_vector(1000000, 'a'))), algorithm().million_a);
}

TEST_P(sha_digest, final_returns_size_bytes)
{
    EXPECT_EQ(hash().size(), algorithm().size);
    EXPECT_EQ(digest_whole(hash(), bytes_of("abc")).size(), static_cast<std::size_t>(algorithm().size));
}

TEST_P(sha_digest, million_a_in_uneven_pieces)
{
    const byte_vector data(1000000, 'a');
    const std::size_t pieces[] = {1, 63, 64, 65, 127, 128, 129, 1000, 4097};
    hash().init();
    std::size_t offset = 0;
    for (std::size_t i = 0; offset < data.size(); ++i) {
        const std::size_t n = std::min(pieces[i % 9], data.size() - offset);
        hash().update(data.data() + offset, static_cast<std::uint32_t>(n));
        offset += n;
    }
    EXPECT_EQ(to_hex(hash().final()), algorithm().million_a);
}

TEST_P(sha_digest, padding_edges_whole_equals_bytewise)
{
    for (std::size_t length : {55, 56, 57, 63, 64, 65, 111, 112, 113, 119, 120, 127, 128, 129}) {
        const byte_vector data = pattern(length);
        EXPECT_EQ(digest_whole(hash(), data), digest_bytewise(hash(), data)) << length << " bytes";
    }
}

TEST_P(sha_digest, padding_chain_known_answer)
{
    byte_vector chained;
    for (std::size_t length = 0; length <= 300; ++length) {
        const byte_vector digest = digest_whole(hash(), pattern(length));
        chained.insert(chained.end(), digest.begin(), digest.end());
    }
    EXPECT_EQ(to_hex(digest_whole(hash(), chained)), algorithm().padding_chain);
}

TEST_P(sha_digest, zero_length_updates_change_nothing)
{
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    hash().init();
    hash().update(nullptr, 0);
    hash().update(abc, 0);
    hash().update(abc, 1);
    hash().update(abc + 1, 0);
    hash().update(abc + 1, 2);
    hash().update(nullptr, 0);
    EXPECT_EQ(to_hex(hash().final()), algorithm().abc);
}

TEST_P(sha_digest, init_after_final_starts_afresh)
{
    const byte_vector abc = bytes_of("abc");
    const byte_vector first = digest_whole(hash(), abc);
    const byte_vector second = digest_whole(hash(), abc);
    EXPECT_EQ(to_hex(first), algorithm().abc);
    EXPECT_EQ(first, second);

    // init also discards a message left unfinished, buffered bytes included.
    hash().init();
    hash().update(m896.data(), 100);
    hash().init();
    hash().update(abc.data(), 3);
    EXPECT_EQ(to_hex(hash().final()), algorithm().abc);
}

std::string case_name(const testing::TestParamInfo<sha_digest::ParamType>& info)
{
    return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(all, sha_digest,
                         testing::Combine(testing::ValuesIn(algorithms), testing::ValuesIn(compression_choices)),
                         case_name);

// 2^29 + 5 zero bytes: more than 2^32 bits, so the bit count must carry
// past 32 bits into the length field.
TEST(sha_length_field, counts_beyond_32_bits)
{
    const byte_vector mebibyte(1 << 20, 0);
    crypto::sha1 h1;
    crypto::sha256 h256;
    h1.init();
    h256.init();
    for (int i = 0; i < 512; ++i) {
        h1.update(mebibyte.data(), static_cast<std::uint32_t>(mebibyte.size()));
        h256.update(mebibyte.data(), static_cast<std::uint32_t>(mebibyte.size()));
    }
    h1.update(mebibyte.data(), 5);
    h256.update(mebibyte.data(), 5);
    EXPECT_EQ(to_hex(h1.final()), "8e9aff269b0100da94e05015243e0a65c1399752");
    EXPECT_EQ(to_hex(h256.final()), "067afeb284bda066154edc29030dbfdb883432345edbb83b37c54f87fb33931e");
}

TEST(sha384_vs_sha512, differ_in_their_first_48_bytes)
{
    crypto::sha384 h384;
    crypto::sha512 h512;
    for (const std::string& text : {std::string(), std::string("abc"), m896}) {
        const byte_vector d384 = digest_whole(h384, bytes_of(text));
        const byte_vector d512 = digest_whole(h512, bytes_of(text));
        ASSERT_EQ(d384.size(), 48u);
        EXPECT_NE(d384, byte_vector(d512.begin(), d512.begin() + 48)) << '"' << text << '"';
    }
}

// The dispatchers pick the accelerated functions exactly when the processor
// has the extensions and the switch leaves them on.
TEST(sha_dispatch, selection_follows_cpu_and_switch)
{
    using namespace crypto::detail;
    const std::uint32_t cpu = cpu_features_detected();
    EXPECT_EQ(sha1_compress_shani() != nullptr, (cpu & cpu_sha) != 0);
    EXPECT_EQ(sha256_compress_shani() != nullptr, (cpu & cpu_sha) != 0);
#if defined(__x86_64__)
    EXPECT_EQ(sha512_compress_avx2() != nullptr, (cpu & cpu_avx2) != 0);
    const sha512_compress_fn sha512_avx2_path = sha512_compress_avx2();
    const sha512_compress_fn sha512_ssse3_path = nullptr;
#else
    EXPECT_EQ(sha512_compress_avx2(), nullptr);
    const sha512_compress_fn sha512_avx2_path = sha512_compress_vector_avx2();
    const sha512_compress_fn sha512_ssse3_path = sha512_compress_vector_ssse3();
#endif
#if defined(__x86_64__) || defined(__i386__)
    EXPECT_EQ(sha512_compress_vector_avx2() != nullptr, (cpu & cpu_avx2) != 0);
    EXPECT_EQ(sha512_compress_vector_ssse3() != nullptr, (cpu & cpu_ssse3) != 0);
#endif

    cpu_features_switch_off(cpu_all_features);
    EXPECT_EQ(sha1_compress_selected(), &sha1_compress_portable);
    EXPECT_EQ(sha256_compress_selected(), &sha256_compress_portable);
    EXPECT_EQ(sha512_compress_selected(), &sha512_compress_portable);
    cpu_features_switch_off(cpu_sha | cpu_avx2);
    EXPECT_EQ(sha1_compress_selected(), &sha1_compress_portable);
    EXPECT_EQ(sha512_compress_selected(), sha512_ssse3_path ? sha512_ssse3_path : &sha512_compress_portable);
    cpu_features_switch_off(cpu_sha);
    EXPECT_EQ(sha256_compress_selected(), &sha256_compress_portable);
    if (sha512_avx2_path != nullptr) {
        EXPECT_EQ(sha512_compress_selected(), sha512_avx2_path);
    }
    cpu_features_switch_off(0);
    if ((cpu & cpu_sha) != 0) {
        EXPECT_EQ(sha1_compress_selected(), sha1_compress_shani());
        EXPECT_EQ(sha256_compress_selected(), sha256_compress_shani());
    }
}

// Several blocks in one call, from random chaining values: the accelerated
// functions carry state between blocks (and the AVX2 one pairs blocks, with
// a lone last block for odd counts) exactly like the portable ones.
template <typename Word, std::size_t Words>
void expect_same_compression(void (*portable)(Word*, const std::uint8_t*, std::size_t),
                             void (*accelerated)(Word*, const std::uint8_t*, std::size_t), std::size_t block_size)
{
    std::mt19937_64 random(20240611);
    // No block at all leaves the chaining words as they are.
    for (std::size_t count = 0; count <= 6; ++count) {
        // One spare byte so the blocks start at an odd address.
        std::vector<std::uint8_t> data(count * block_size + 1);
        for (auto& b : data) b = static_cast<std::uint8_t>(random());
        Word expected[Words];
        for (auto& w : expected) w = static_cast<Word>(random());
        Word actual[Words];
        std::copy(std::begin(expected), std::end(expected), std::begin(actual));

        portable(expected, data.data() + 1, count);
        accelerated(actual, data.data() + 1, count);
        EXPECT_TRUE(std::equal(std::begin(expected), std::end(expected), std::begin(actual))) << count << " blocks";
    }
}

TEST(sha_compression, sha_extensions_match_portable)
{
    using namespace crypto::detail;
    if (sha1_compress_shani() == nullptr) GTEST_SKIP() << "no SHA extensions on this processor";
    expect_same_compression<std::uint32_t, 5>(sha1_compress_portable, sha1_compress_shani(), 64);
    expect_same_compression<std::uint32_t, 8>(sha256_compress_portable, sha256_compress_shani(), 64);
}

TEST(sha_compression, avx2_matches_portable)
{
    using namespace crypto::detail;
    if (sha512_compress_avx2() == nullptr) GTEST_SKIP() << "no AVX2/BMI2 on this processor (or an i686 build)";
    expect_same_compression<std::uint64_t, 8>(sha512_compress_portable, sha512_compress_avx2(), 128);
}

// The vector-register SHA-512 of the i686 build (SSSE3 and AVX2 forms);
// built and checked in the x86-64 build too. They read the next block's
// first words during a block's last rounds, which the counts of 2 to 6
// blocks cover, and the last block's without using them.
TEST(sha_compression, sha512_vector_paths_match_portable)
{
    using namespace crypto::detail;
    int checked = 0;
    for (const sha512_compress_fn path : {sha512_compress_vector_ssse3(), sha512_compress_vector_avx2()}) {
        if (path == nullptr) continue;
        expect_same_compression<std::uint64_t, 8>(sha512_compress_portable, path, 128);
        ++checked;
    }
    if (checked == 0) GTEST_SKIP() << "no SSSE3 on this processor";
}

}  // namespace
