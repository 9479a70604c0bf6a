#include "key_blobs.h"

#include "common/gost_standin.h"

namespace gost_standin {

namespace {

constexpr std::uint8_t simple_blob_type = 1;  // SIMPLEBLOB
constexpr std::uint8_t public_blob_type = 6;  // PUBLICKEYBLOB

void put32(bytes& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint32_t get32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void put_header(bytes& out, std::uint8_t type, std::uint32_t alg)
{
    out.push_back(type);
    out.push_back(blob_version);
    out.push_back(0);
    out.push_back(0);
    put32(out, alg);
}

bool header_ok(const std::uint8_t* data, std::uint8_t type)
{
    return data[0] == type && data[1] == blob_version && data[2] == 0 && data[3] == 0;
}

void append(bytes& out, const bytes& part) { out.insert(out.end(), part.begin(), part.end()); }

}  // namespace

std::size_t der_sequence_size(const std::uint8_t* data, std::size_t size)
{
    if (size < 2 || data[0] != 0x30) return 0;
    std::size_t length = 0;
    std::size_t header = 2;
    if (data[1] < 0x80) {
        length = data[1];
    } else {
        const std::size_t count = data[1] & 0x7F;
        if (count == 0 || count > 3 || size < 2 + count) return 0;
        for (std::size_t i = 0; i < count; ++i) length = length << 8 | data[2 + i];
        header += count;
    }
    if (length == 0 || header + length > size) return 0;
    return header + length;
}

bytes build_public_key_blob(const public_key_blob& blob)
{
    bytes out;
    put_header(out, public_blob_type, blob.alg);
    put32(out, public_key_magic);
    put32(out, static_cast<std::uint32_t>(blob.key.size() * 8));
    append(out, blob.parameters);
    append(out, blob.key);
    return out;
}

bool parse_public_key_blob(const std::uint8_t* data, std::size_t size, public_key_blob& out)
{
    if (!data || size < 16 || !header_ok(data, public_blob_type) || get32(data + 8) != public_key_magic) return false;
    const std::uint32_t bits = get32(data + 12);
    if (bits == 0 || bits % 8) return false;
    const std::size_t params = der_sequence_size(data + 16, size - 16);
    if (params == 0 || 16 + params + bits / 8 != size) return false;
    out.alg = get32(data + 4);
    out.parameters.assign(data + 16, data + 16 + params);
    out.key.assign(data + 16 + params, data + size);
    return true;
}

bytes build_simple_blob(const simple_blob& blob)
{
    bytes out;
    put_header(out, simple_blob_type, calg_g28147);
    put32(out, simple_blob_magic);
    put32(out, calg_g28147);
    append(out, blob.ukm);
    append(out, blob.encrypted);
    append(out, blob.mac);
    append(out, blob.parameters);
    return out;
}

bool parse_simple_blob(const std::uint8_t* data, std::size_t size, simple_blob& out)
{
    constexpr std::size_t fixed = 16 + simple_blob_ukm_size + simple_blob_key_size + simple_blob_mac_size;
    if (!data || size <= fixed || !header_ok(data, simple_blob_type) || get32(data + 4) != calg_g28147 ||
        get32(data + 8) != simple_blob_magic || get32(data + 12) != calg_g28147)
        return false;
    if (der_sequence_size(data + fixed, size - fixed) != size - fixed) return false;
    const std::uint8_t* p = data + 16;
    out.ukm.assign(p, p + simple_blob_ukm_size);
    p += simple_blob_ukm_size;
    out.encrypted.assign(p, p + simple_blob_key_size);
    p += simple_blob_key_size;
    out.mac.assign(p, p + simple_blob_mac_size);
    out.parameters.assign(data + fixed, data + size);
    return true;
}

}  // namespace gost_standin
