// GOST R 34.11-94 (CryptoPro parameter set) and GOST R 34.11-2012 hashes.
//
// Where the vectors come from:
//  - GOST R 34.11-2012: the two examples of RFC 6986 (section 10). The RFC
//    prints messages and digests as numbers, most significant byte first;
//    our byte strings are least significant byte first, so both are
//    reversed here. The empty-message, "abc", 0..63 and million-'a' digests
//    are from libgcrypt 1.10 (GCRY_MD_STRIBOG256 / GCRY_MD_STRIBOG512), whose
//    output has the same byte order as ours.
//  - GOST R 34.11-94: digests from libgcrypt 1.10 GCRY_MD_GOSTR3411_CP
//    (CryptoPro S-boxes, zero starting value). RFC 5831's printed examples
//    use the test parameter set and do not apply. The empty-message digest
//    also appears in the OpenSSL GOST engine's CryptoPro test vectors.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "crypto/cpu_features.h"
#include "crypto/gost_3411_2012/gost_3411_12.h"
#include "crypto/gost_3411_2012/streebog_compress.h"
#include "crypto/gost_3411_94/gost_3411_94.h"
#include "crypto/hash_algorithm.h"

namespace {

using crypto::byte_vector;

byte_vector from_hex(const std::string& text)
{
    byte_vector out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    return out;
}

// A value the RFC prints most significant byte first, as our byte string.
byte_vector from_printed_number(const std::string& text)
{
    byte_vector out = from_hex(text);
    std::reverse(out.begin(), out.end());
    return out;
}

byte_vector bytes_of(const std::string& text)
{
    return byte_vector(text.begin(), text.end());
}

byte_vector counting(std::size_t n)
{
    byte_vector out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(i);
    return out;
}

byte_vector random_bytes(std::size_t n, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    byte_vector out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(rng());
    return out;
}

byte_vector digest(crypto::hash_algorithm& h, const byte_vector& data)
{
    h.init();
    h.update(data.data(), static_cast<std::uint32_t>(data.size()));
    return h.final();
}

// Feeds data in pieces of the given size (the last one shorter).
byte_vector digest_in_pieces(crypto::hash_algorithm& h, const byte_vector& data, std::size_t piece)
{
    h.init();
    for (std::size_t at = 0; at < data.size(); at += piece) {
        const std::size_t n = std::min(piece, data.size() - at);
        h.update(data.data() + at, static_cast<std::uint32_t>(n));
    }
    return h.final();
}

// Runs a test body once with the vector compression (where the processor has
// it) and once with the portable one.
class streebog_paths : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { crypto::detail::cpu_features_switch_off(GetParam() ? crypto::detail::cpu_all_features : 0); }
    void TearDown() override { crypto::detail::cpu_features_switch_off(0); }
};

std::string path_name(const ::testing::TestParamInfo<bool>& info)
{
    return info.param ? "Portable" : "Selected";
}

// RFC 6986 example messages, as the RFC prints them.
const char* const rfc_m1 =
    "323130393837363534333231303938373635343332313039383736353433323130393837363534333231303938373635343332313039383736"
    "353433323130";
const char* const rfc_m2 =
    "fbe2e5f0eee3c820fbeafaebef20fffbf0e1e0f0f520e0ed20e8ece0ebe5f0f2f120fff0eeec20f120faf2fee5e2202ce8f6f3ede220e8e6ee"
    "e1e8f0f2d1202ce8f0f2e5e220e5d1";

TEST_P(streebog_paths, RfcExamplesGiveTheStandardsDigestsByteReversed)
{
    const byte_vector m1 = from_printed_number(rfc_m1);
    const byte_vector m2 = from_printed_number(rfc_m2);
    ASSERT_EQ(m1.size(), 63u);
    ASSERT_EQ(m2.size(), 72u);
    EXPECT_EQ(m1, bytes_of("012345678901234567890123456789012345678901234567890123456789012"));

    crypto::gost_3411_12_512 h512;
    crypto::gost_3411_12_256 h256;
    EXPECT_EQ(digest(h512, m1), from_printed_number("486f64c1917879417fef082b3381a4e211c324f074654c38823a7b76f830ad00"
                                                    "fa1fbae42b1285c0352f227524bc9ab16254288dd6863dccd5b9f54a1ad0541b"));
    EXPECT_EQ(digest(h256, m1),
              from_printed_number("00557be5e584fd52a449b16b0251d05d27f94ab76cbaa6da890b59d8ef1e159d"));
    EXPECT_EQ(digest(h512, m2), from_printed_number("28fbc9bada033b1460642bdcddb90c3fb3e56c497ccd0f62b8a2ad4935e85f03"
                                                    "7613966de4ee00531ae60f3b5a47f8dae06915d5f2f194996fcabf2622e6881e"));
    EXPECT_EQ(digest(h256, m2),
              from_printed_number("508f7e553c06501d749a66fc28c6cac0b005746d97537fa85d9e40904efed29d"));
}

TEST_P(streebog_paths, KnownDigestsFromLibgcrypt)
{
    crypto::gost_3411_12_256 h256;
    crypto::gost_3411_12_512 h512;
    // The empty message: the single block 01 00 .. 00 with N = 0.
    EXPECT_EQ(digest(h256, {}), from_hex("3f539a213e97c802cc229d474c6aa32a825a360b2a933a949fd925208d9ce1bb"));
    EXPECT_EQ(digest(h512, {}), from_hex("8e945da209aa869f0455928529bcae4679e9873ab707b55315f56ceb98bef0a7"
                                         "362f715528356ee83cda5f2aac4c6ad2ba3a715c1bcd81cb8e9f90bf4c1c1a8a"));
    EXPECT_EQ(digest(h256, bytes_of("abc")),
              from_hex("4e2919cf137ed41ec4fb6270c61826cc4fffb660341e0af3688cd0626d23b481"));
    EXPECT_EQ(digest(h512, bytes_of("abc")), from_hex("28156e28317da7c98f4fe2bed6b542d0dab85bb224445fcedaf75d46e26d7eb8"
                                                      "d5997f3e0915dd6b7f0aab08d9c8beb0d8c64bae2ab8b3c8c6bc53b3bf0db728"));
    // Exactly one block: the padding block 01 00 .. 00 follows it.
    EXPECT_EQ(digest(h256, counting(64)),
              from_hex("1bce2366e4aecd63c75f972bfc6a514e03e2125920bea5b59cbd8ce0be56b8f3"));
    EXPECT_EQ(digest(h512, counting(64)), from_hex("2ae581f18ae85e3596c936acbef910f2ed70dcf91ed5d24b39a5af657bf8232a"
                                                   "303d686056c8c00bf30d42e16ce255426fa8a155dcb3eb822d925808f7c7e345"));
    const byte_vector million(1000000, 'a');
    EXPECT_EQ(digest(h256, million), from_hex("841af1a0b2f92a800fb1b7e4aabc8e48763153c448a0fc57c90ba830e130f152"));
    EXPECT_EQ(digest(h512, million), from_hex("d396a40b126b1f324465bfa7aa159859ab33fac02dcdd4515ad231206396a266"
                                              "d0102367e4c544ef47d2294064e1a25342d0cd25ae3d904b45abb1425ae41095"));
}

TEST_P(streebog_paths, SplitFeedingEqualsWholeMessage)
{
    crypto::gost_3411_12_256 h256;
    crypto::gost_3411_12_512 h512;
    for (const std::size_t length : {0u, 1u, 63u, 64u, 65u, 127u, 128u, 129u, 200u, 1000u}) {
        const byte_vector data = random_bytes(length, static_cast<std::uint32_t>(length) + 7);
        const byte_vector whole256 = digest(h256, data);
        const byte_vector whole512 = digest(h512, data);
        for (const std::size_t piece : {1u, 63u, 64u, 65u}) {
            SCOPED_TRACE("length " + std::to_string(length) + ", pieces of " + std::to_string(piece));
            EXPECT_EQ(digest_in_pieces(h256, data, piece), whole256);
            EXPECT_EQ(digest_in_pieces(h512, data, piece), whole512);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(GostR341112, streebog_paths, ::testing::Values(false, true), path_name);

// Each accelerated block loop against the portable one: several blocks per
// call from random h, N (its low word close to wrapping) and sigma, at an odd
// address.
TEST(GostR341112, EveryAcceleratedPathMatchesPortable)
{
    using crypto::detail::streebog_blocks_fn;
    const struct {
        const char* name;
        streebog_blocks_fn blocks;
    } paths[] = {{"sse2", crypto::detail::streebog_blocks_sse2()},
                 {"sse2-vex", crypto::detail::streebog_blocks_sse2_vex()},
                 {"avx512-gfni", crypto::detail::streebog_blocks_avx512()}};
    std::mt19937_64 rng(2012);
    int checked = 0;
    for (const auto& path : paths) {
        if (path.blocks == nullptr) continue;
        ++checked;
        for (std::size_t count = 1; count <= 5; ++count) {
            byte_vector data(64 * count + 1);
            for (auto& b : data) b = static_cast<std::uint8_t>(rng());
            std::uint64_t h[8], n[8], sigma[8];
            for (int i = 0; i < 8; ++i) {
                h[i] = rng();
                n[i] = rng();
                sigma[i] = rng();
            }
            n[0] = ~std::uint64_t{0} - 1000;
            std::uint64_t h2[8], n2[8], sigma2[8];
            std::copy(h, h + 8, h2);
            std::copy(n, n + 8, n2);
            std::copy(sigma, sigma + 8, sigma2);
            crypto::detail::streebog_blocks_portable(h, n, sigma, data.data() + 1, count);
            path.blocks(h2, n2, sigma2, data.data() + 1, count);
            EXPECT_TRUE(std::equal(h, h + 8, h2)) << path.name << ", " << count << " blocks";
            EXPECT_TRUE(std::equal(n, n + 8, n2)) << path.name << ", " << count << " blocks";
            EXPECT_TRUE(std::equal(sigma, sigma + 8, sigma2)) << path.name << ", " << count << " blocks";
        }
    }
    if (checked == 0) GTEST_SKIP() << "no accelerated path on this processor";
}

TEST(GostR341112, SelectionFollowsTheSwitch)
{
    using namespace crypto::detail;
    cpu_features_switch_off(cpu_all_features);
    EXPECT_EQ(streebog_blocks_selected(), &streebog_blocks_portable);
    cpu_features_switch_off(cpu_avx512 | cpu_gfni | cpu_avx2);
    EXPECT_EQ(streebog_blocks_selected(),
              streebog_blocks_sse2() != nullptr ? streebog_blocks_sse2() : &streebog_blocks_portable);
    if (streebog_blocks_sse2_vex() != nullptr) {
        cpu_features_switch_off(cpu_avx512 | cpu_gfni);
        EXPECT_EQ(streebog_blocks_selected(), streebog_blocks_sse2_vex());
    }
    cpu_features_switch_off(0);
    if (streebog_blocks_avx512() != nullptr) {
        EXPECT_EQ(streebog_blocks_selected(), streebog_blocks_avx512());
    }
}

TEST(GostR341112, ZeroLengthUpdateChangesNothing)
{
    crypto::gost_3411_12_256 h;
    const byte_vector data = bytes_of("abc");
    const byte_vector expected = digest(h, data);
    h.init();
    h.update(nullptr, 0);
    h.update(data.data(), 2);
    h.update(data.data(), 0);
    h.update(data.data() + 2, 1);
    h.update(nullptr, 0);
    EXPECT_EQ(h.final(), expected);
}

TEST(GostR341112, SizesAndDigestLengths)
{
    crypto::gost_3411_12_256 h256;
    crypto::gost_3411_12_512 h512;
    EXPECT_EQ(h256.size(), 32);
    EXPECT_EQ(h512.size(), 64);
    EXPECT_EQ(digest(h256, bytes_of("x")).size(), 32u);
    EXPECT_EQ(digest(h512, bytes_of("x")).size(), 64u);
    // The 256-bit hash starts from h = 01..01, not from zero: it is not a
    // half of the 512-bit digest.
    const byte_vector d512 = digest(h512, bytes_of("x"));
    EXPECT_NE(digest(h256, bytes_of("x")), byte_vector(d512.begin() + 32, d512.end()));
}

TEST(GostR341112, InitAfterFinalStartsAFreshDigest)
{
    crypto::gost_3411_12_512 reused;
    const byte_vector first = digest(reused, bytes_of("abc"));
    EXPECT_EQ(digest(reused, bytes_of("abc")), first);
    // A longer message with a partly filled buffer, then a short one again.
    const byte_vector other = random_bytes(150, 1);
    const byte_vector other_digest = digest(reused, other);
    crypto::gost_3411_12_512 fresh;
    EXPECT_EQ(other_digest, digest(fresh, other));
    EXPECT_EQ(digest(reused, bytes_of("abc")), first);
}

TEST(GostR341112, InterleavedObjectsOneDestroyedEarly)
{
    const byte_vector a = random_bytes(300, 11);
    const byte_vector b = random_bytes(517, 12);
    crypto::gost_3411_12_256 ref_a;
    crypto::gost_3411_12_512 ref_b;
    const byte_vector expected_a = digest(ref_a, a);
    const byte_vector expected_b = digest(ref_b, b);

    auto first = std::make_unique<crypto::gost_3411_12_256>();
    auto second = std::make_unique<crypto::gost_3411_12_512>();
    first->init();
    second->init();
    first->update(a.data(), 100);
    second->update(b.data(), 17);
    first->update(a.data() + 100, 200);
    second->update(b.data() + 17, 300);
    EXPECT_EQ(first->final(), expected_a);
    first.reset();
    second->update(b.data() + 317, 200);
    EXPECT_EQ(second->final(), expected_b);
}

// Several threads hash from the start at the same moment.
bool hash_in_threads_from_start()
{
    const byte_vector expected = from_printed_number(
        "486f64c1917879417fef082b3381a4e211c324f074654c38823a7b76f830ad00"
        "fa1fbae42b1285c0352f227524bc9ab16254288dd6863dccd5b9f54a1ad0541b");
    const byte_vector message = from_printed_number(rfc_m1);
    constexpr int thread_count = 8;
    std::atomic<int> ready{0};
    std::atomic<int> correct{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < thread_count; ++t) {
        threads.emplace_back([&] {
            ready.fetch_add(1);
            while (ready.load() < thread_count) std::this_thread::yield();
            for (int i = 0; i < 50; ++i) {
                crypto::gost_3411_12_512 h;
                if (digest(h, message) != expected) return;
            }
            correct.fetch_add(1);
        });
    }
    for (auto& t : threads) t.join();
    return correct.load() == thread_count;
}

TEST(GostR341112, ConcurrentHashingGivesCorrectDigests)
{
    EXPECT_TRUE(hash_in_threads_from_start());
}

#if GTEST_HAS_DEATH_TEST
// In a fresh process no table exists yet, so the threads race to build it.
TEST(GostR341112DeathTest, FirstUseFromManyThreadsAtOnce)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(hash_in_threads_from_start() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}
#endif

// GOST R 34.11-94, CryptoPro parameter set.

struct gost94_vector {
    byte_vector message;
    const char* digest;
};

TEST(GostR341194, KnownDigestsFromLibgcrypt)
{
    const std::vector<gost94_vector> vectors = {
        {{}, "981e5f3ca30c841487830f84fb433e13ac1101569b9c13584ac483234cd656c0"},
        {bytes_of("a"), "e74c52dd282183bf37af0079c9f78055715a103f17e3133ceff1aacf2f403011"},
        {bytes_of("abc"), "b285056dbf18d7392d7677369524dd14747459ed8143997e163b2986f92fd42c"},
        {bytes_of("message digest"), "bc6041dd2aa401ebfa6e9886734174febdb4729aa972d60f549ac39b29721ba0"},
        {counting(31), "adbbb82a77a72a661ba7cb3e398c893aa5cee97e53cb832aed38b60fa01578a4"},
        {counting(32), "23afc12c2ae8ed5fc89a8fea0b9e1d842b11618e4c9bab78b1aac3d0924c5650"},
        {counting(33), "f82845e487ce5785609a6db8fe8dadff4e8dbd57e203a96e767faba241965171"},
        {counting(64), "1f92feb117d53ed3832858e93c5ad4165816d09904125b818fe3afdbaa36d9fc"},
        {bytes_of("This is message, length=32 bytes"),
         "2cefc2f7b7bdc514e18ea57fa74ff357e7fa17d652c75f69cb1be7893ede48eb"},
        {bytes_of("Suppose the original message has length = 50 bytes"),
         "c3730c5cbccacf915ac292676f21e8bd4ef75331d9405e5f1a61dc3130a65011"},
        {byte_vector(128, 'U'), "1c4ac7614691bbf427fa2316216be8f10d92edfd37cd1027514c1008f649c4e8"},
        {byte_vector(1000000, 'a'), "8693287aa62f9478f7cb312ec0866b6c4e4a0f11160441e8f4ffcd2715dd554f"},
    };
    crypto::gost_3411_94 h;
    for (const auto& v : vectors) {
        SCOPED_TRACE("length " + std::to_string(v.message.size()));
        EXPECT_EQ(digest(h, v.message), from_hex(v.digest));
        // One byte at a time gives the same digest.
        if (v.message.size() <= 128) {
            EXPECT_EQ(digest_in_pieces(h, v.message, 1), from_hex(v.digest));
        }
    }
}

TEST(GostR341194, EverySplitGivesTheSameDigest)
{
    crypto::gost_3411_94 h;
    for (const std::size_t length : {0u, 31u, 32u, 33u, 64u, 65u, 97u, 300u}) {
        const byte_vector data = random_bytes(length, static_cast<std::uint32_t>(length) + 94);
        const byte_vector whole = digest(h, data);
        for (const std::size_t piece : {1u, 5u, 31u, 32u, 33u, 64u}) {
            SCOPED_TRACE("length " + std::to_string(length) + ", pieces of " + std::to_string(piece));
            EXPECT_EQ(digest_in_pieces(h, data, piece), whole);
        }
        // Split at every point into two pieces.
        for (std::size_t cut = 0; cut <= length && length <= 97; ++cut) {
            h.init();
            h.update(data.data(), static_cast<std::uint32_t>(cut));
            h.update(data.data() + cut, static_cast<std::uint32_t>(length - cut));
            EXPECT_EQ(h.final(), whole) << "cut at " << cut;
        }
    }
}

TEST(GostR341194, InitAfterFinalAndZeroLengthUpdates)
{
    crypto::gost_3411_94 h;
    EXPECT_EQ(h.size(), 32);
    const byte_vector first = digest(h, bytes_of("abc"));
    ASSERT_EQ(first.size(), 32u);
    digest(h, random_bytes(77, 3));  // leaves a partial block behind, then final
    h.init();
    h.update(nullptr, 0);
    h.update("abc", 3);
    h.update("abc", 0);
    EXPECT_EQ(h.final(), first);
}

TEST(GostR341194, InterleavedObjectsOneDestroyedEarly)
{
    const byte_vector a = random_bytes(100, 21);
    const byte_vector b = random_bytes(70, 22);
    crypto::gost_3411_94 ref;
    const byte_vector expected_a = digest(ref, a);
    const byte_vector expected_b = digest(ref, b);
    auto first = std::make_unique<crypto::gost_3411_94>();
    crypto::gost_3411_94 second;
    first->init();
    second.init();
    first->update(a.data(), 40);
    second.update(b.data(), 10);
    first->update(a.data() + 40, 60);
    EXPECT_EQ(first->final(), expected_a);
    first.reset();
    second.update(b.data() + 10, 60);
    EXPECT_EQ(second.final(), expected_b);
}

}  // namespace
