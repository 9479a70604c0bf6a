#pragma once
// The platform-free text forms of the certificate viewer: everything it
// writes that does not need the CryptoAPI to decode. Texts grow as needed; an
// empty text stands for "no text" (an unreadable structure).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "crypto/byte_vector.h"
#include "crypto/encoding/text.h"

namespace crypto::x509reader {

// --- object identifiers ------------------------------------------------------

// Dotted text of the content bytes of a DER object identifier. Arcs are read
// in 64 bits; an empty input, a last subidentifier cut short or an arc that
// does not fit 64 bits gives the empty text.
std::string oid_to_text(const std::uint8_t* data, std::size_t size);
std::string oid_to_text(const byte_vector& content);

// --- dates -------------------------------------------------------------------

// "5 марта 2024 г. 07:08:09 UTC"; a month outside 1..12 gives the empty text.
std::string format_date_ru(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                           unsigned second);

// --- hexadecimal forms -------------------------------------------------------

// Serial number held least significant byte first: "01 A2 FF", most
// significant byte first.
std::string serial_number_text(const std::uint8_t* data, std::size_t size);
// A DER value as "30 06 2a 85 03 02 02 24": tag and length, then each content
// byte (public-key parameters and unknown extensions); empty when unreadable.
std::string tlv_lower_text(const std::uint8_t* data, std::size_t size);
// A public key as "0440 ABCD EF01 ...": tag and length, then the content in
// groups of two bytes (an odd last byte as a group of its own).
std::string key_value_text(const std::uint8_t* data, std::size_t size);
// "ab cd ef": each byte in order.
std::string byte_list_text(const std::uint8_t* data, std::size_t size);
// The serial number of an authority key identifier (least significant byte
// first) as groups of four digits from the most significant end: "0102 0304 05".
std::string authority_serial_text(const std::uint8_t* data, std::size_t size);
// Signature bytes in pairs, each group followed by a blank: "ABCD EF01 ".
std::string signature_value_text(const byte_vector& bytes);

// --- names -------------------------------------------------------------------

// One attribute of a name: OID text and value text (UTF-8).
struct rdn_entry {
    std::string oid;
    std::string value;
};
using rdn_list = std::vector<rdn_entry>;

// The tag of each attribute value of an encoded Name (SEQUENCE of SETs of
// SEQUENCEs of an OBJECT IDENTIFIER and a value), in the name's order; false
// when the bytes are not such a Name.
bool name_value_tags(const std::uint8_t* name, std::size_t size, std::vector<std::uint8_t>& tags);

// The attributes of a name rendered as "2.5.4.3=Test, 2.5.4.6=RU" (the OID
// form of CertNameToStrW), one entry for each attribute, those of one RDN
// ("2.5.4.3=A + 2.5.4.10=B") too (crypto/encoding/name_text.h); value_tags
// are the tags of the values as the encoded name holds them. A value held as
// a string type is shown as written, whatever it starts with. A value of
// another type that the text shows quoted, as "#" and hexadecimal digits, is
// decoded and read as a TLV: content with a byte below 0x10 as UTF-16 in
// big-endian order, otherwise as text. When the text's attributes are not as
// many as the tags, nothing is shown (the empty list).
rdn_list parse_rdn_text(const wide_char* text, const std::vector<std::uint8_t>& value_tags);
// "CN=Test C=RU": display names, one blank between entries.
std::string rdn_list_to_text(const rdn_list& list);

// --- extension texts read by TLV ---------------------------------------------

std::string key_usage_text(const std::uint8_t* bits, std::size_t size);
std::string subject_key_id_text(const byte_vector& value);
std::string authority_info_access_text(const byte_vector& value);
// The content of the value's TLV taken as text (signing tool, and the
// identification kind that is not one of the four known).
std::string tlv_string_text(const byte_vector& value);
std::string issuer_tools_text(const byte_vector& value);
std::string restricted_use_text(const byte_vector& value);
std::string certificate_template_text(const byte_vector& value);
std::string identification_kind_text(long long kind);

// --- signature ---------------------------------------------------------------

// The signature of a whole DER certificate: the algorithm OID, and at most the
// last 64 bytes of the signature bit string's content, last byte first.
struct signature_part {
    std::string oid;
    byte_vector reversed;
};
// False when the certificate's outer structure does not hold a signature.
bool read_signature(const std::uint8_t* data, std::size_t size, signature_part& signature);

// --- the JSON text -----------------------------------------------------------

// text between JSON quotes: quote, backslash and every control character
// escaped (controls as \uXXXX), invalid UTF-8 replaced by U+FFFD.
std::string json_escape(const std::string& text);

struct extension_view {
    std::string oid;
    bool critical = false;
    std::string text;
};

// What to_json writes, every piece already in its text form.
struct certificate_view {
    unsigned long version_field = 0;  // 2 for an X.509 version 3 certificate
    std::string serial_number;
    rdn_list issuer;
    std::string not_before;
    std::string not_after;
    rdn_list subject;
    std::string key_algorithm_oid;
    std::string key_parameters;
    std::string key_value;
    unsigned long key_unused_bits = 0;
    std::vector<extension_view> extensions;
    bool has_signature = false;
    std::string signature_oid;
    std::string signature_value;
};

// The certificate's JSON text: {"certificate": {...}}.
std::string certificate_json(const certificate_view& view);

}  // namespace crypto::x509reader
