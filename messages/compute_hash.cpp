#include <stdexcept>

#include "crypto/encoding/base64.h"
#include "crypto/hash_algorithm.h"
#include "messages/commands.h"

namespace messages {

// "ComputeHash": {"algorithm": OID, "data": base64} -> base64 digest, or ""
// for an OID that names no hash.
command_result compute_hash::execute(const json_tree& arguments) const
{
    const std::string& algorithm = arguments.get_child("algorithm").data();
    const std::string& data_text = arguments.get_child("data").data();
    const crypto::byte_vector data = crypto::base64_decode(data_text);

    const auto hash = crypto::make_hash_algorithm_from_oid(algorithm);
    if (!hash)
        return std::string();
    if (data.empty())
        throw std::runtime_error("Fatal error!");

    hash->init();
    // The interface takes 32-bit lengths; requests are far below 4 GiB, but feed
    // in pieces so no length is ever truncated.
    constexpr std::size_t piece = 1u << 30;
    for (std::size_t offset = 0; offset < data.size(); offset += piece) {
        const std::size_t n = std::min(piece, data.size() - offset);
        hash->update(data.data() + offset, static_cast<std::uint32_t>(n));
    }
    return crypto::base64_encode(hash->final());
}

}  // namespace messages
