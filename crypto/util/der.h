#pragma once
// A minimal DER writer for the request encoders: definite lengths in their
// shortest form, whole values built bottom-up as byte vectors.
#include <cstdint>
#include <string>
#include <vector>

#include "crypto/byte_vector.h"
#include "crypto/encoding/text.h"

namespace crypto {
namespace util {
namespace der {

enum tag : std::uint8_t {
    boolean = 0x01,
    integer_tag = 0x02,
    bit_string = 0x03,
    octet_string = 0x04,
    null_tag = 0x05,
    object_identifier = 0x06,
    utf8_string = 0x0C,
    numeric_string = 0x12,
    printable_string = 0x13,
    ia5_string = 0x16,
    bmp_string = 0x1E,
    sequence = 0x30,
    set = 0x31,
};

// A length in its shortest form, appended to out.
void put_length(byte_vector& out, std::size_t length);
// tag, length, contents.
byte_vector tlv(std::uint8_t tag, const byte_vector& contents);
// The contents of several values one after the other.
byte_vector concat(const std::vector<byte_vector>& parts);
byte_vector sequence_of(const std::vector<byte_vector>& items);
// SET OF in DER order: the encodings sorted as octet strings.
byte_vector set_of(std::vector<byte_vector> items);
// Minimal two's complement.
byte_vector integer(std::int32_t value);
// A dotted OID ("1.2.643.100.1"): at least two arcs of decimal digits, the
// first 0 to 2. False for anything else.
bool object_id(const char* dotted, byte_vector& out);
// UTF-16 code units big-endian, as a BMPString carries them.
byte_vector bmp(const wide_char* text, std::size_t units);
// BIT STRING with the given unused-bit count in its first content byte.
byte_vector bits(const byte_vector& data, std::uint8_t unused_bits);

}  // namespace der
}  // namespace util
}  // namespace crypto
