#pragma once
#include <string>
#include <utility>
#include <vector>

#include "crypto/encoding/text.h"

namespace crypto {

// Splits the text form of a certificate name ("CN=a, O=\"b, c\"") into
// key/value texts (UTF-8): tokens at commas outside quotes, tokens without
// "=" dropped, keys and values trimmed of code units up to 32, values
// unquoted (each quotation mark dropped, two in a row give one). When a key
// repeats, its first value stays. Entries keep the order of the text.
std::vector<std::pair<std::string, std::string>> split_name_text(const wide_char* text);

}  // namespace crypto
