#pragma once
// The compiled-in table of known smart cards and tokens, recognised by their
// ATR, and the token family each card type belongs to.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace crypto::cards {

// One known card: its ATR as text (hexadecimal bytes separated by ","), model
// name (UTF-8), card type code, token family key, and whether the card is
// read through its family's PKCS#11 module (true) or by APDU probes (false).
struct atr_row {
    const char* atr;
    const char* model;
    std::int32_t type;
    const char* family;
    bool pkcs11;
};

// The 13 known cards in table order, then a terminator row (no ATR, no model,
// type -1, no family).
constexpr std::size_t atr_row_count = 13;
const atr_row* atr_table();

// The first row whose ATR has exactly these bytes, or null. An empty ATR
// matches nothing.
const atr_row* find_card_by_atr(const std::uint8_t* atr, std::size_t size);

// The family key ("rutoken_ecp", "jacarta", "esmart", "rutoken", "etoken") of
// the first row, terminator included, with this card type; none for a type no
// row has (and for -1, the terminator's type).
std::optional<std::string> family_for_card_type(std::int32_t type);

}  // namespace crypto::cards
