#pragma once
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "crypto/encoding/text.h"

namespace crypto {

// One attribute of a name text as written: its key and its value, each a
// range of code units, neither trimmed nor unquoted.
struct name_text_attribute {
    const wide_char* key_begin;
    const wide_char* key_end;
    const wide_char* value_begin;
    const wide_char* value_end;
};

// Calls visit for each attribute of the system's text form of a name, in the
// text's order. The text is split at commas outside quotes (wide_tokenizer
// with the quotation mark), and each part again at the " + " that joins the
// attributes of one RDN, outside quotes (the system quotes a value that holds
// "+" itself). A part without "=" is dropped; the key is what comes before
// its first "=", the value what comes after it.
void for_each_name_attribute(const wide_char* text, const std::function<void(const name_text_attribute&)>& visit);

// Splits the text form of a certificate name ("CN=a, O=\"b, c\"") into
// key/value texts (UTF-8), one entry for each attribute (for_each_name_attribute):
// keys and values trimmed of code units up to 32, values unquoted (each
// quotation mark dropped, two in a row give one). When a key repeats, its
// first value stays. Entries keep the order of the text; the time is linear
// in the text's length.
std::vector<std::pair<std::string, std::string>> split_name_text(const wide_char* text);

}  // namespace crypto
