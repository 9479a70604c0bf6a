#pragma once
// Checks shared by the fuzz targets: a failed check aborts with a message, so
// that libFuzzer keeps the input as a finding.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

namespace fuzz {

[[noreturn]] inline void fail(const char* what, const std::string& detail = std::string())
{
    std::fprintf(stderr, "check failed: %s %.200s\n", what, detail.c_str());
    std::abort();
}

inline void check(bool condition, const char* what, const std::string& detail = std::string())
{
    if (!condition)
        fail(what, detail);
}

// Well-formed UTF-8 (RFC 3629): no overlongs, no surrogates, nothing above U+10FFFF.
inline bool is_utf8(const std::string& text)
{
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        std::size_t length = 1;
        unsigned char low = 0x80, high = 0xBF;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0) low = 0xA0;
            if (c == 0xED) high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0) low = 0x90;
            if (c == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (n - i < length || s[i + 1] < low || s[i + 1] > high)
            return false;
        for (std::size_t k = 2; k < length; ++k)
            if (s[i + k] < 0x80 || s[i + k] > 0xBF)
                return false;
        i += length;
    }
    return true;
}

// Boost's own stream reader, as a reference independent of our in-place reader.
inline bool boost_read(const std::string& text, boost::property_tree::ptree& tree)
{
    try {
        std::istringstream stream(text);
        boost::property_tree::read_json(stream, tree);
        return true;
    } catch (const boost::property_tree::json_parser_error&) {
        return false;
    }
}

// Nesting depth of objects and arrays, strings skipped.
inline int nesting_depth(const std::string& text)
{
    int depth = 0, deepest = 0;
    bool in_string = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (in_string) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '{' || c == '[') {
            if (++depth > deepest)
                deepest = depth;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return deepest;
}

// One answer: valid UTF-8 JSON, an object with "response" "success" or
// "fail" and the request's id.
inline void check_answer(const std::string& text, const std::string& id, std::size_t limit)
{
    check(text.size() <= limit, "answer above the size limit");
    check(is_utf8(text), "answer is not valid UTF-8", text);
    boost::property_tree::ptree answer;
    check(boost_read(text, answer), "answer is not JSON", text);
    const auto response = answer.get_optional<std::string>("response");
    check(response && (*response == "success" || *response == "fail"), "answer without response", text);
    const auto echoed = answer.get_child_optional("id");
    check(echoed && echoed->empty() && echoed->data() == id, "answer does not echo the id", text);
}

}  // namespace fuzz
