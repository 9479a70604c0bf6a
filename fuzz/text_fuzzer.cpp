// The text helpers: UTF-8 <-> UTF-16, UTF-16BE, compact time, hex, the
// tokenizer and the name-text splitting. The first byte picks the helper.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "crypto/encoding/hex.h"
#include "crypto/encoding/name_text.h"
#include "crypto/encoding/text.h"
#include "fuzz/fuzz_checks.h"

namespace {

using crypto::wide_char;
using wide_string = std::basic_string<wide_char>;

wide_string units_of(const std::uint8_t* data, std::size_t size)
{
    wide_string units(size / 2, u'\0');
    if (!units.empty())
        std::memcpy(&units[0], data, units.size() * 2);
    return units;
}

std::string text_of(const char* converted)
{
    const std::unique_ptr<const char[]> owned(converted);
    return converted ? std::string(converted) : std::string();
}

void utf8_round_trip(const std::string& text)
{
    const std::unique_ptr<wide_char[]> wide(crypto::utf8_to_wide(text.c_str()));
    if (!wide)
        return;
    const std::string back = text_of(crypto::wide_to_utf8(wide.get(), 0));
    fuzz::check(fuzz::is_utf8(back), "wide_to_utf8 gave invalid UTF-8");
    // Well-formed text comes back unchanged.
    const std::string until_nul(text.c_str());
    if (fuzz::is_utf8(until_nul))
        fuzz::check(back == until_nul, "UTF-8 round trip changed well-formed text", until_nul);
}

void wide_to_utf8(const wide_string& units)
{
    const std::string text = text_of(crypto::wide_to_utf8(units.c_str(), units.size()));
    fuzz::check(fuzz::is_utf8(text), "wide_to_utf8 gave invalid UTF-8");
}

void utf16be(const std::uint8_t* data, std::size_t size)
{
    const std::string text = text_of(crypto::utf16be_to_utf8(data, size / 2));
    fuzz::check(fuzz::is_utf8(text), "utf16be_to_utf8 gave invalid UTF-8");
}

void compact_time(const std::string& text)
{
    const std::string compact = text_of(crypto::to_compact_time(text.c_str()));
    if (compact.empty())
        return;
    // "YYYYMMDDhhmmss" and the zone as given ("+hh:mm").
    fuzz::check(compact.size() >= 14, "compact time too short", compact);
    for (std::size_t i = 0; i < 14; ++i)
        fuzz::check(compact[i] >= '0' && compact[i] <= '9', "compact time not digits", compact);
}

void hex(const std::uint8_t* data, std::size_t size)
{
    const crypto::byte_vector bytes(data, data + size);
    const std::string encoded = crypto::hex_encode(bytes);
    fuzz::check(crypto::hex_decode(encoded.c_str()) == bytes, "hex round trip changed the bytes");
    const std::string text(reinterpret_cast<const char*>(data), size);
    fuzz::check(crypto::hex_decode(text.c_str()).size() == std::strlen(text.c_str()) / 2, "hex_decode length");
}

void tokenize(const wide_string& units)
{
    if (units.size() < 2)
        return;
    // First unit: the quote; second: the delimiter; the rest: the text.
    const wide_char quote = units[0];
    const wide_char delimiter[] = {units[1], 0};
    const wide_string text(units.c_str() + 2);
    crypto::wide_tokenizer tokens(text.c_str(), delimiter, 1, quote);
    std::size_t total = 0;
    while (const wide_char* token = tokens.next()) {
        total += std::char_traits<wide_char>::length(token);
        fuzz::check(total <= text.size(), "tokens longer than the text");
    }
}

void name_text(const wide_string& units)
{
    for (const auto& entry : crypto::split_name_text(units.c_str())) {
        fuzz::check(fuzz::is_utf8(entry.first) && fuzz::is_utf8(entry.second), "name entry not UTF-8");
        fuzz::check(entry.second.find('"') == std::string::npos || units.find(u"\"\"") != wide_string::npos,
                    "a lone quote survived unquoting");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t pick = data[0];
    ++data;
    --size;
    const std::string text(reinterpret_cast<const char*>(data), size);
    switch (pick % 7) {
    case 0: utf8_round_trip(text); break;
    case 1: wide_to_utf8(units_of(data, size)); break;
    case 2: utf16be(data, size); break;
    case 3: compact_time(text); break;
    case 4: hex(data, size); break;
    case 5: tokenize(units_of(data, size)); break;
    case 6: name_text(units_of(data, size)); break;
    }
    return 0;
}
