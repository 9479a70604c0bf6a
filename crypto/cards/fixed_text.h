#pragma once
// Texts of fixed-width fields (token label, model and serial, slot
// description, key identifiers) and of card replies.
#include <cstddef>
#include <string>

namespace crypto::cards {

// The field without its trailing bytes of value 0x20 or less (the first byte
// is always kept, so an all-blank field gives one blank), ended at its first
// NUL.
std::string field_text(const void* data, std::size_t size);

// The field ended at its first NUL, then without its trailing bytes of value
// 0x20 or less (the first byte is always kept): how the token request path
// reads a token's model and serial number.
std::string cut_field_text(const void* data, std::size_t size);

// A card reply as text: field_text, then without its leading bytes of value
// 0x20 or less.
std::string reply_text(const void* data, std::size_t size);

}  // namespace crypto::cards
