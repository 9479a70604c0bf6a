#include "standin_scheme.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <stdexcept>
#include <string>

#include "crypto/gost_3411_2012/gost_3411_12.h"
#include "crypto/hash_algorithm.h"

namespace gost_standin {

namespace {

struct piece {
    const std::uint8_t* data;
    std::size_t size;
    piece(const bytes& b) : data(b.data()), size(b.size()) {}  // NOLINT: implicit on purpose
    piece(const char* label) : data(reinterpret_cast<const std::uint8_t*>(label)), size(std::strlen(label)) {}
};

bytes streebog512(std::initializer_list<piece> pieces)
{
    crypto::gost_3411_12_512 hash;
    hash.init();
    for (const auto& p : pieces) hash.update(p.data, static_cast<std::uint32_t>(p.size));
    return hash.final();
}

bytes first(const bytes& value, std::size_t count) { return bytes(value.begin(), value.begin() + count); }

bytes concat(bytes a, const bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

bytes derive_public_key(const key_family& family, const bytes& private_key)
{
    bytes key = streebog512({"kelvora-standin-public-1", private_key});
    if (family.public_size > 64) key = concat(key, streebog512({"kelvora-standin-public-2", private_key}));
    return first(key, family.public_size);
}

bytes make_signature(const key_family& family, const bytes& public_key, const bytes& hash_value)
{
    bytes signature = streebog512({"kelvora-standin-signature-1", public_key, hash_value});
    if (family.signature_size > 64)
        signature = concat(signature, streebog512({"kelvora-standin-signature-2", public_key, hash_value}));
    return first(signature, family.signature_size);
}

bytes agree(const bytes& public_a, const bytes& public_b)
{
    const bool a_first = std::lexicographical_compare(public_a.begin(), public_a.end(), public_b.begin(),
                                                      public_b.end());
    const bytes& low = a_first ? public_a : public_b;
    const bytes& high = a_first ? public_b : public_a;
    return first(streebog512({"kelvora-standin-agreement", low, high}), 32);
}

namespace {
bytes key_encryption_key(const bytes& agreement, const bytes& ukm)
{
    return first(streebog512({"kelvora-standin-kek", agreement, ukm}), 32);
}
bytes wrap_pad(const bytes& kek) { return first(streebog512({"kelvora-standin-pad", kek}), 32); }
bytes wrap_mac(const bytes& kek, const bytes& session_key, const bytes& parameters)
{
    return first(streebog512({"kelvora-standin-mac", kek, session_key, parameters}), 4);
}
}  // namespace

wrapped_key wrap_session_key(const bytes& agreement, const bytes& ukm, const bytes& session_key,
                             const bytes& parameters)
{
    if (session_key.size() != 32) throw std::invalid_argument("session key must be 32 bytes");
    const bytes kek = key_encryption_key(agreement, ukm);
    const bytes pad = wrap_pad(kek);
    wrapped_key out;
    out.encrypted.resize(32);
    for (std::size_t i = 0; i < 32; ++i) out.encrypted[i] = static_cast<std::uint8_t>(session_key[i] ^ pad[i]);
    out.mac = wrap_mac(kek, session_key, parameters);
    return out;
}

bool unwrap_session_key(const bytes& agreement, const bytes& ukm, const wrapped_key& wrapped,
                        const bytes& parameters, bytes& session_key)
{
    if (wrapped.encrypted.size() != 32 || wrapped.mac.size() != 4) return false;
    const bytes kek = key_encryption_key(agreement, ukm);
    const bytes pad = wrap_pad(kek);
    bytes key(32);
    for (std::size_t i = 0; i < 32; ++i) key[i] = static_cast<std::uint8_t>(wrapped.encrypted[i] ^ pad[i]);
    if (wrap_mac(kek, key, parameters) != wrapped.mac) return false;
    session_key = key;
    return true;
}

void apply_key_stream(const bytes& session_key, std::uint8_t* data, std::size_t length)
{
    std::uint32_t counter = 0;
    for (std::size_t offset = 0; offset < length; offset += 64, ++counter) {
        const bytes block_index{static_cast<std::uint8_t>(counter), static_cast<std::uint8_t>(counter >> 8),
                                static_cast<std::uint8_t>(counter >> 16), static_cast<std::uint8_t>(counter >> 24)};
        const bytes stream = streebog512({"kelvora-standin-stream", session_key, block_index});
        for (std::size_t i = 0; i < 64 && offset + i < length; ++i) data[offset + i] ^= stream[i];
    }
}

bytes digest(std::uint32_t hash_alg, const bytes& data)
{
    auto hash = crypto::make_hash_algorithm_from_alg_id(hash_alg);
    if (!hash) throw std::invalid_argument("no hash for ALG_ID " + std::to_string(hash_alg));
    hash->init();
    hash->update(data.data(), static_cast<std::uint32_t>(data.size()));
    return hash->final();
}

}  // namespace gost_standin
