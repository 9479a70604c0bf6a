#include "signature_scheme.h"

#include "crypto/sha2/sha256.h"

namespace skf_standin {

bytes key_stream(const std::string& container_path, std::size_t length)
{
    bytes stream;
    crypto::sha256 hash;
    for (std::uint32_t counter = 0; stream.size() < length; ++counter) {
        const std::uint8_t block[4] = {static_cast<std::uint8_t>(counter >> 24),
                                       static_cast<std::uint8_t>(counter >> 16),
                                       static_cast<std::uint8_t>(counter >> 8), static_cast<std::uint8_t>(counter)};
        hash.init();
        hash.update(container_path.data(), static_cast<std::uint32_t>(container_path.size()));
        hash.update(block, sizeof(block));
        const auto digest = hash.final();
        stream.insert(stream.end(), digest.begin(), digest.end());
    }
    stream.resize(length);
    return stream;
}

bytes scheme_sign(const std::string& container_path, std::uint32_t modulus, const bytes& data)
{
    if (modulus < 11 || data.size() > modulus - 11)
        return {};
    bytes block(modulus, 0xFF);
    block[0] = 0x00;
    block[1] = 0x01;
    const std::size_t data_at = modulus - data.size();
    block[data_at - 1] = 0x00;
    std::copy(data.begin(), data.end(), block.begin() + static_cast<std::ptrdiff_t>(data_at));
    const auto stream = key_stream(container_path, modulus);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] ^= stream[i];
    return block;
}

}  // namespace skf_standin
