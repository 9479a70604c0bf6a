#pragma once
// The two GOST key blobs, little-endian:
//   PUBLICKEYBLOB: BLOBHEADER {6, 0x20, 0, aiKeyAlg}, magic "MAG1", BitLen,
//                  DER key parameters (a SEQUENCE), the raw key (BitLen / 8).
//   SIMPLEBLOB:    BLOBHEADER {1, 0x20, 0, CALG_G28147}, magic 0x374A51FD,
//                  EncryptKeyAlgId = CALG_G28147, UKM (8), encrypted key (32),
//                  MAC (4), DER cipher parameters (a SEQUENCE).
// The parsers accept only exactly this layout; anything else is refused.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace gost_standin {

using bytes = std::vector<std::uint8_t>;

struct public_key_blob {
    std::uint32_t alg = 0;
    bytes parameters;
    bytes key;
};

struct simple_blob {
    bytes ukm;
    bytes encrypted;
    bytes mac;
    bytes parameters;
};

bytes build_public_key_blob(const public_key_blob& blob);
bool parse_public_key_blob(const std::uint8_t* data, std::size_t size, public_key_blob& out);

bytes build_simple_blob(const simple_blob& blob);
bool parse_simple_blob(const std::uint8_t* data, std::size_t size, simple_blob& out);

// Size of the complete DER element (tag, length, contents) starting at data,
// or 0 when it is not a well-formed SEQUENCE that fits in size bytes.
std::size_t der_sequence_size(const std::uint8_t* data, std::size_t size);

}  // namespace gost_standin
