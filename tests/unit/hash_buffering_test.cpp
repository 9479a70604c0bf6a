// The block buffering every iterated hash shares: what reaches the
// compression for each way of feeding, null data ignored by every hash, and
// the buffer wiped when a digest is done.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "crypto/block_buffer.h"
#include "crypto/gost_3411_2012/streebog.h"
#include "crypto/hash_algorithm.h"

namespace {

// Pieces fed into an 8-byte block buffer, and the calls to the compression
// they must cause: (offset in the message or -1 for the buffer, count).
struct feeding_case {
    std::vector<std::size_t> pieces;
    std::vector<std::pair<int, std::size_t>> calls;
    std::uint32_t waiting;
};

const feeding_case feeding_cases[] = {
    {{0}, {}, 0},
    {{7}, {}, 7},
    {{8}, {{0, 1}}, 0},
    {{3, 5}, {{-1, 1}}, 0},
    {{3, 4, 1}, {{-1, 1}}, 0},
    {{3, 21}, {{-1, 1}, {8, 2}}, 0},
    {{3, 22}, {{-1, 1}, {8, 2}}, 1},
    {{17, 0, 7}, {{0, 2}, {-1, 1}}, 0},
    {{1, 1, 1, 1, 1, 1, 1, 1, 1}, {{-1, 1}}, 1},
};

TEST(block_buffer, feeding_table)
{
    std::vector<std::uint8_t> message(64);
    for (std::size_t i = 0; i < message.size(); ++i) message[i] = static_cast<std::uint8_t>(i + 1);
    for (const feeding_case& c : feeding_cases) {
        crypto::detail::block_buffer<8> buffer{};
        std::vector<std::pair<int, std::size_t>> calls;
        std::vector<std::uint8_t> compressed;
        std::size_t at = 0;
        for (const std::size_t piece : c.pieces) {
            buffer.absorb(message.data() + at, piece, [&](const std::uint8_t* blocks, std::size_t count) {
                const bool own = blocks == buffer.bytes;
                calls.emplace_back(own ? -1 : static_cast<int>(blocks - message.data()), count);
                compressed.insert(compressed.end(), blocks, blocks + 8 * count);
            });
            at += piece;
        }
        SCOPED_TRACE(testing::PrintToString(c.pieces));
        EXPECT_EQ(calls, c.calls);
        EXPECT_EQ(buffer.waiting, c.waiting);
        // The compression saw the message's bytes in order, the rest waits.
        ASSERT_EQ(compressed.size() + buffer.waiting, at);
        EXPECT_EQ(compressed, std::vector<std::uint8_t>(message.begin(), message.begin() + compressed.size()));
        EXPECT_EQ(std::vector<std::uint8_t>(buffer.bytes, buffer.bytes + buffer.waiting),
                  std::vector<std::uint8_t>(message.begin() + compressed.size(), message.begin() + at));
    }
}

TEST(block_buffer, null_data_is_ignored_and_wipe_clears)
{
    crypto::detail::block_buffer<8> buffer{};
    int calls = 0;
    const auto count_calls = [&calls](const std::uint8_t*, std::size_t) { ++calls; };
    buffer.absorb("abcde", 5, count_calls);
    buffer.absorb(nullptr, 100, count_calls);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(buffer.waiting, 5u);
    buffer.wipe();
    EXPECT_EQ(buffer.waiting, 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.bytes), 8), std::string(8, '\0'));
}

// Every hash ignores a null pointer with a non-zero length: the digest is
// that of "abc" alone.
TEST(hash_update, null_pointer_with_length_is_ignored_by_every_hash)
{
    const char* oids[] = {"1.3.14.3.2.26",         "1.2.643.2.2.9",         "1.2.643.7.1.1.2.2",
                          "1.2.643.7.1.1.2.3",     "1.2.840.113549.1.1.11", "1.2.840.113549.1.1.12",
                          "1.2.840.113549.1.1.13"};
    for (const char* oid : oids) {
        const auto h = crypto::make_hash_algorithm_from_oid(oid);
        ASSERT_TRUE(h) << oid;
        h->init();
        h->update("abc", 3);
        const crypto::byte_vector expected = h->final();
        h->init();
        h->update(nullptr, 1000);
        h->update("ab", 2);
        h->update(nullptr, 64);
        h->update("c", 1);
        h->update(nullptr, 0xFFFFFFFFu);
        EXPECT_EQ(h->final(), expected) << oid;
    }
}

TEST(hash_final, streebog_leaves_no_message_bytes_in_its_buffer)
{
    crypto::streebog_state state;
    crypto::streebog_start(state, 256);
    const std::string message(100, 'x');
    crypto::streebog_update_blocks(state, reinterpret_cast<const std::uint8_t*>(message.data()), message.size());
    ASSERT_EQ(state.buffer.waiting, 36u);
    crypto::streebog_finish(state);
    EXPECT_EQ(state.buffer.waiting, 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(state.buffer.bytes), 64), std::string(64, '\0'));
}

}  // namespace
