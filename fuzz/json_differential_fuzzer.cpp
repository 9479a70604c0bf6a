// Our JSON reader (copying and consuming) against Boost's own stream reader:
// the same documents are accepted and give the same trees. Ours may refuse
// more: nesting deeper than its limit, text that is not well-formed UTF-8, or
// more values than its limit.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_checks.h"
#include "messages/json.h"

namespace {

bool our_read(const std::string& text, messages::json_tree& tree, bool consuming)
{
    try {
        if (consuming) {
            std::string owned = text;
            messages::from_json(std::move(owned)).swap(tree);
            fuzz::check(owned.empty(), "consuming parse left its text");
        } else {
            messages::from_json(text).swap(tree);
        }
        return true;
    } catch (const boost::property_tree::json_parser_error&) {
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    boost::property_tree::ptree reference, copied, consumed;
    const bool boost_ok = fuzz::boost_read(text, reference);
    const bool copied_ok = our_read(text, copied, false);
    const bool consumed_ok = our_read(text, consumed, true);

    fuzz::check(copied_ok == consumed_ok, "copying and consuming parse disagree on acceptance", text);
    if (copied_ok) {
        fuzz::check(copied == consumed, "copying and consuming parse give different trees", text);
        fuzz::check(boost_ok, "ours accepts what Boost refuses", text);
        fuzz::check(copied == reference, "ours and Boost give different trees", text);
    } else if (boost_ok) {
        const bool may_refuse = fuzz::nesting_depth(text) > messages::max_json_depth || !fuzz::is_utf8(text) ||
                                messages::count_json_values(text.data(), text.size()) > messages::max_json_values;
        fuzz::check(may_refuse, "ours refuses what Boost accepts", text);
    }
    return 0;
}
