// SHA-1 and SHA-2 against OpenSSL: random messages of random lengths, fed in
// random pieces from unaligned addresses, through both the selected and the
// portable compression functions.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "crypto/cpu_features.h"
#include "crypto/sha1/sha1.h"
#include "crypto/sha1/sha1_dispatch.h"
#include "crypto/sha2/sha256.h"
#include "crypto/sha2/sha256_dispatch.h"
#include "crypto/sha2/sha512.h"
#include "crypto/sha2/sha512_dispatch.h"

namespace {

using crypto::byte_vector;

struct algorithm_case {
    const char* name;
    std::function<std::unique_ptr<crypto::hash_algorithm>()> make;
    const EVP_MD* (*openssl)();
};

void PrintTo(const algorithm_case& c, std::ostream* os) { *os << c.name; }

const algorithm_case algorithms[] = {
    {"sha1", [] { return std::make_unique<crypto::sha1>(); }, EVP_sha1},
    {"sha256", [] { return std::make_unique<crypto::sha256>(); }, EVP_sha256},
    {"sha384", [] { return std::make_unique<crypto::sha384>(); }, EVP_sha384},
    {"sha512", [] { return std::make_unique<crypto::sha512>(); }, EVP_sha512},
};

byte_vector openssl_digest(const EVP_MD* md, const std::uint8_t* data, std::size_t length)
{
    byte_vector out(static_cast<std::size_t>(EVP_MD_size(md)));
    unsigned int written = 0;
    if (EVP_Digest(data, length, out.data(), &written, md, nullptr) != 1) return {};
    out.resize(written);
    return out;
}

void force_portable(bool force)
{
    crypto::detail::cpu_features_switch_off(force ? crypto::detail::cpu_all_features : 0);
}

class sha_against_openssl : public testing::TestWithParam<std::tuple<algorithm_case, bool>> {
protected:
    void SetUp() override { force_portable(std::get<1>(GetParam())); }
    void TearDown() override { force_portable(false); }
};

TEST_P(sha_against_openssl, random_messages_in_random_pieces)
{
    const algorithm_case& algorithm = std::get<0>(GetParam());
    const EVP_MD* md = algorithm.openssl();
    std::mt19937 random(0x5a17u + static_cast<unsigned>(std::get<1>(GetParam())));

    // One object for every message: init must start each digest afresh.
    const auto hash = algorithm.make();

    std::vector<std::size_t> lengths;
    for (int i = 0; i < 300; ++i) lengths.push_back(std::uniform_int_distribution<std::size_t>(0, 10000)(random));
    for (std::size_t large : {65536u, 1000003u, 3u << 20}) lengths.push_back(large);

    for (std::size_t length : lengths) {
        // Up to 7 spare bytes in front so the message starts at any alignment.
        const std::size_t offset = random() % 8;
        std::vector<std::uint8_t> buffer(offset + length);
        for (auto& b : buffer) b = static_cast<std::uint8_t>(random());
        const std::uint8_t* message = buffer.data() + offset;

        // Split into 1..8 pieces at random points (empty pieces included).
        std::vector<std::size_t> cuts{0, length};
        const int extra = static_cast<int>(random() % 8);
        for (int i = 0; i < extra; ++i) cuts.push_back(length == 0 ? 0 : random() % (length + 1));
        std::sort(cuts.begin(), cuts.end());

        hash->init();
        for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
            hash->update(message + cuts[i], static_cast<std::uint32_t>(cuts[i + 1] - cuts[i]));
        }
        ASSERT_EQ(hash->final(), openssl_digest(md, message, length))
            << length << " bytes at offset " << offset << " in " << cuts.size() - 1 << " pieces";
    }
}

std::string case_name(const testing::TestParamInfo<sha_against_openssl::ParamType>& info)
{
    return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) ? "_portable" : "_selected");
}

INSTANTIATE_TEST_SUITE_P(all, sha_against_openssl, testing::Combine(testing::ValuesIn(algorithms), testing::Bool()),
                         case_name);

}  // namespace
