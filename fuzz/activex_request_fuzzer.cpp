// The platform-free part of the control's SendMessage: UTF-16 request text to
// UTF-8, the request handler over the platform-free commands, and the answer
// back to UTF-16. The conversion never fails; every answer converts back
// (no "bad conversion"), is JSON and echoes the request's id.
#include <cstdint>
#include <cstring>
#include <string>

#include "activex/request_handler.h"
#include "activex/wide_text.h"
#include "fuzz/fuzz_checks.h"
#include "messages/command_table.h"
#include "messages/json.h"

namespace {

const activex::command_map& commands()
{
    static const activex::command_map* map = [] {
        auto* m = new activex::command_map;
        for (auto& row : messages::make_commands())
            m->emplace(row.first, row.second.release());
        return m;
    }();
    return *map;
}

bool is_high(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::u16string units(size / 2, u'\0');
    if (!units.empty())
        std::memcpy(&units[0], data, units.size() * 2);

    const std::string request = activex::utf16_to_utf8(units.data(), units.size());
    fuzz::check(fuzz::is_utf8(request), "request conversion gave invalid UTF-8");
    // Back to UTF-16: the same units, unpaired surrogates as U+FFFD.
    std::u16string expected;
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (is_high(units[i]) && i + 1 < units.size() && is_low(units[i + 1])) {
            expected += units[i];
            expected += units[++i];
        } else {
            expected += is_high(units[i]) || is_low(units[i]) ? u'\xFFFD' : units[i];
        }
    }
    fuzz::check(activex::utf8_to_utf16(request) == expected, "UTF-16 round trip changed the text");

    std::string answer;
    try {
        answer = activex::answer_request(commands(), request);
    } catch (const activex::invalid_message&) {
        return 0;
    } catch (const boost::property_tree::json_parser_error&) {
        return 0;
    }
    try {
        activex::utf8_to_utf16(answer);
    } catch (const std::range_error&) {
        fuzz::fail("answer does not convert to UTF-16", answer);
    }
    fuzz::check(!answer.empty() && answer.back() == '\n', "answer does not end with a line feed");
    const messages::json_tree parsed = messages::from_json(request);
    fuzz::check_answer(answer, parsed.get_child("id").data(), std::string::npos);
    return 0;
}
