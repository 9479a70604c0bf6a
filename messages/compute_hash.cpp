#include <stdexcept>

#include "crypto/encoding/base64.h"
#include "crypto/hash_algorithm.h"
#include "messages/commands.h"

namespace messages {

// "ComputeHash": {"algorithm": OID, "data": base64} -> base64 digest, or ""
// for an OID that names no hash. The document is decoded piece by piece
// straight into the hash, so a large one is never held decoded as a whole.
command_result compute_hash::execute(const json_tree& arguments) const
{
    const std::string& algorithm = arguments.get_child("algorithm").data();
    const std::string& data = arguments.get_child("data").data();

    const auto hash = crypto::make_hash_algorithm_from_oid(algorithm);
    if (!hash) {
        // Data that is not base64 fails even here.
        crypto::base64_decode_each(data, [](const std::uint8_t*, std::size_t) {});
        return std::string();
    }
    if (crypto::base64_decoded_size(data) == 0)
        throw std::runtime_error("Fatal error!");

    hash->init();
    crypto::base64_decode_each(data, [&hash](const std::uint8_t* piece, std::size_t size) {
        hash->update(piece, static_cast<std::uint32_t>(size));
    });
    return crypto::base64_encode(hash->final());
}

}  // namespace messages
