#include <cstring>

#include "crypto/encoding/text.h"

namespace crypto {
namespace {

// True when the whole delimiter starts at p; an empty delimiter never matches.
bool delimiter_at(const wide_char* p, const wide_char* delimiter) {
    if (!delimiter || !*delimiter) return false;
    for (; *delimiter; ++delimiter, ++p)
        if (*p != *delimiter) return false;  // also stops at the text's terminator
    return true;
}

}  // namespace

wide_tokenizer::wide_tokenizer(const wide_char* text, const wide_char* delimiter, std::size_t skip, wide_char quote)
    : text_(nullptr), delimiter_(delimiter), skip_(skip), quote_(quote) {
    if (text) {
        std::size_t length = 0;
        while (text[length]) ++length;
        text_ = new wide_char[length + 1];
        std::memcpy(text_, text, (length + 1) * sizeof(wide_char));
    }
}

wide_tokenizer::~wide_tokenizer() { delete[] text_; }

const wide_char* wide_tokenizer::next() {
    if (!text_) return nullptr;
    if (!token_) {
        token_ = position_ = text_;
        if (!*text_) return token_;  // an empty text is one empty token
    } else {
        if (!*position_) return nullptr;
        token_ = position_;
    }

    wide_char* p = token_;
    for (; *p; ++p) {
        if (quote_ && *p == quote_) {
            if (p[1] == quote_)
                ++p;  // a doubled quote is an escaped quote character
            else
                inside_quotes_ = !inside_quotes_;
            continue;
        }
        if (!inside_quotes_ && delimiter_at(p, delimiter_)) {
            *p = 0;
            // Never step past the terminator, whatever the skip length.
            position_ = p;
            for (std::size_t i = 0; i < skip_ && (i == 0 || *position_); ++i) ++position_;
            return token_;
        }
    }
    position_ = p;  // the rest of the text is the last token
    return token_;
}

}  // namespace crypto
