// Each vector base64 decoder against the portable one: the same bytes for
// valid text, and the same exception (at the same piece) for every bad text.
#include <gtest/gtest.h>

#include <boost/archive/iterators/dataflow_exception.hpp>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crypto/cpu_features.h"
#include "crypto/encoding/base64.h"
#include "crypto/encoding/base64_groups.h"

namespace {

using boost::archive::iterators::dataflow_exception;
using namespace crypto::detail;

struct decoder_row {
    const char* name;
    base64_group_decoder decode;
    std::uint32_t needs;
};

std::vector<decoder_row> vector_decoders()
{
    std::vector<decoder_row> rows;
    if (base64_decode_groups_ssse3 && (cpu_features_detected() & cpu_ssse3))
        rows.push_back({"ssse3", base64_decode_groups_ssse3, cpu_ssse3});
    if (base64_decode_groups_avx2 && (cpu_features_detected() & cpu_avx2))
        rows.push_back({"avx2", base64_decode_groups_avx2, cpu_avx2});
    return rows;
}

// The decoder's output, or the exception's text prefixed with "throws: ".
// The output buffer has 32 guard bytes that must stay untouched.
std::string run(base64_group_decoder decode, const std::string& text)
{
    std::vector<std::uint8_t> out(text.size() / 4 * 3 + 32, 0xA5);
    try {
        const std::uint8_t* end = decode(reinterpret_cast<const unsigned char*>(text.data()), text.size(), out.data());
        if (end != out.data() + text.size() / 4 * 3)
            return "wrong length";
        for (std::size_t i = text.size() / 4 * 3; i < out.size(); ++i)
            if (out[i] != 0xA5)
                return "wrote past the end";
        return std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(text.size() / 4 * 3));
    } catch (const dataflow_exception& e) {
        return std::string("throws: ") + e.what();
    }
}

std::string random_text(std::mt19937& random, std::size_t length)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text(length, 'A');
    for (auto& c : text)
        c = alphabet[random() % 64];
    return text;
}

// Texts (whole groups) covering every step size and every way a step falls
// back: valid text of each length to 200 characters, each of the 256 byte
// values at positions across and at the edges of the 16- and 32-character
// steps, and "=" runs inside the text (zero bits, not an error).
std::vector<std::string> cases()
{
    std::mt19937 random(15);
    std::vector<std::string> texts;
    for (std::size_t length = 0; length <= 200; length += 4)
        texts.push_back(random_text(random, length));
    const std::size_t positions[] = {0, 1, 15, 16, 17, 31, 32, 33, 47, 48, 63, 64, 95, 99};
    for (int byte = 0; byte < 256; ++byte)
        for (const std::size_t position : positions) {
            std::string text = random_text(random, 100 + 4 * (random() % 20));
            text[position] = static_cast<char>(byte);
            texts.push_back(text);
        }
    for (int i = 0; i < 200; ++i) {
        std::string text = random_text(random, 4 * (1 + random() % 60));
        const std::size_t at = random() % text.size();
        text.replace(at, std::min<std::size_t>(1 + random() % 8, text.size() - at), 8, '=');
        text.resize(text.size() / 4 * 4);
        texts.push_back(text);
    }
    return texts;
}

TEST(Base64Paths, EveryVectorDecoderMatchesPortable)
{
    const auto texts = cases();
    int valid = 0, invalid = 0;
    for (const std::string& text : texts) {
        const std::string expected = run(base64_decode_groups_portable, text);
        (expected.rfind("throws: ", 0) == 0 ? invalid : valid) += 1;
        for (const auto& row : vector_decoders())
            EXPECT_EQ(run(row.decode, text), expected) << row.name << " on " << text;
    }
    // Both kinds of case are really there: 191 of the 256 byte values are
    // neither in the alphabet nor "=", at each of the 14 positions.
    EXPECT_EQ(invalid, 191 * 14);
    EXPECT_GT(valid, 1000);
}

TEST(Base64Paths, BadCharacterIsTheBoostError)
{
    EXPECT_EQ(run(base64_decode_groups_portable, std::string(40, 'A') + "*AAA"),
              "throws: attempt to decode a value not in base64 char set");
}

// Through the public functions, large texts: each path the switch allows
// gives the portable result, piece by piece, and a bad character deep in the
// text throws after the same pieces were handed over.
TEST(Base64Paths, DecodeEachFollowsTheSwitch)
{
    std::mt19937 random(1);
    std::string text = random_text(random, 4 * 300001) + "QQ==";
    std::string bad = text;
    bad[bad.size() - 1000] = '.';
    const std::uint32_t masks[] = {cpu_all_features, cpu_avx2, 0};
    std::vector<std::string> results;
    for (const std::uint32_t mask : masks) {
        cpu_features_switch_off(mask);
        std::string whole;
        std::vector<std::size_t> pieces;
        crypto::base64_decode_each(text, [&](const std::uint8_t* p, std::size_t n) {
            whole.append(reinterpret_cast<const char*>(p), n);
            pieces.push_back(n);
        });
        const auto decoded = crypto::base64_decode(text);
        EXPECT_EQ(std::string(decoded.begin(), decoded.end()), whole);
        std::size_t handed = 0;
        EXPECT_THROW(crypto::base64_decode_each(bad, [&](const std::uint8_t*, std::size_t n) { handed += n; }),
                     dataflow_exception);
        results.push_back(whole + "|" + std::to_string(pieces.size()) + "|" + std::to_string(handed));
    }
    cpu_features_switch_off(0);
    EXPECT_EQ(results[1], results[0]);
    EXPECT_EQ(results[2], results[0]);
    // Three whole pieces of 256 KiB less one byte come before the bad one.
    EXPECT_EQ(results[0].substr(results[0].rfind('|')), "|786429");
}

TEST(Base64Paths, SelectionFollowsTheSwitch)
{
    cpu_features_switch_off(cpu_all_features);
    EXPECT_EQ(base64_group_decoder_selected(), base64_decode_groups_portable);
    cpu_features_switch_off(cpu_avx2);
    EXPECT_EQ(base64_group_decoder_selected(),
              base64_decode_groups_ssse3 && (cpu_features_detected() & cpu_ssse3) ? base64_decode_groups_ssse3
                                                                                  : base64_decode_groups_portable);
    cpu_features_switch_off(0);
    if (base64_decode_groups_avx2 && (cpu_features_detected() & cpu_avx2)) {
        EXPECT_EQ(base64_group_decoder_selected(), base64_decode_groups_avx2);
    }
}

}  // namespace
