#include "crypto/cards/atr_table.h"

#include <cstdlib>

namespace crypto::cards {
namespace {

const atr_row rows[atr_row_count + 1] = {
    {"3b,d5,18,00,81,31,fe,7d,80,73,c8,21,10,f4", "eToken PRO Java 72k", 1, "etoken", false},
    {"3b,d5,18,00,81,31,3a,7d,80,73,c8,21,10,30", "eToken PRO Java 72k rev.B", 1, "etoken", false},
    {"3B,6F,00,FF,00,56,72,75,54,6F,6B,6E,73,30,20,00,00,90,00", "Рутокен S", 3, "rutoken", false},
    {"3B,8B,01,52,75,74,6F,6B,65,6E,20,44,53,20,C1", "Рутокен ЭЦП", 4, "rutoken_ecp", true},
    {"3B,8B,01,52,75,74,6F,6B,65,6E,6C,69,74,65,C2", "Рутокен lite", 5, "rutoken", false},
    {"3b,dc,18,ff,81,11,fe,80,73,c8,21,13,66,01,06,01,30,80,01,8d", "JaCarta LT", 6, "jacarta", false},
    {"3b,dc,18,ff,81,91,fe,1f,c3,80,73,c8,21,13,66,01,06,11,59,00,01,28", "JaCarta PRO", 7, "jacarta", true},
    {"3b,be,96,00,00,42,06,21,00,00,00,00,00,00,00,00,00,90,00", "ESMART Token USB 64K", 8, "esmart", true},
    {"3b,be,18,00,00,42,06,11,00,00,00,00,00,00,00,00,00,90,00", "ESMART Token USB 128K", 9, "esmart", true},
    {"3b,7c,95,00,00,45,53,4d,41,52,54,47,4f,53,54,31,30", "ESMART Token GOST", 10, "esmart", true},
    {"3B,1A,96,72,75,74,6F,6B,65,6E,6D,73,63", "Рутокен ЭЦП 2.0M", 4, "rutoken_ecp", true},
    {"3B,1A,96,72,75,74,6F,6B,65,6E,6D", "Рутокен ЭЦП 2.0M", 4, "rutoken_ecp", true},
    {"3B,9E,96,00,80,31,C0,65,4D,53,00,45,53,72,F7,41,81,07", "ANGARA+", 12, "esmart", true},
    {nullptr, nullptr, -1, nullptr, false},
};

// Compares the ATR text of a row, piece by piece, with the bytes.
bool atr_equals(const char* text, const std::uint8_t* atr, std::size_t size)
{
    std::size_t count = 0;
    const char* piece = text;
    for (;;) {
        char* end = nullptr;
        const unsigned long value = std::strtoul(piece, &end, 16);
        if (count >= size || static_cast<std::uint8_t>(value & 0xFF) != atr[count])
            return false;
        ++count;
        if (*end != ',')
            break;
        piece = end + 1;
    }
    return count == size;
}

}  // namespace

const atr_row* atr_table()
{
    return rows;
}

const atr_row* find_card_by_atr(const std::uint8_t* atr, std::size_t size)
{
    if (!atr || size == 0)
        return nullptr;
    for (const atr_row* row = rows; row->atr; ++row)
        if (atr_equals(row->atr, atr, size))
            return row;
    return nullptr;
}

std::optional<std::string> family_for_card_type(std::int32_t type)
{
    for (const atr_row& row : rows) {
        if (row.type == type)
            return row.family ? std::optional<std::string>(row.family) : std::nullopt;
    }
    return std::nullopt;
}

}  // namespace crypto::cards
