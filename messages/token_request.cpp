#include "messages/token_request.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <stdexcept>

#include "crypto/cards/atr_table.h"
#include "crypto/pkcs11/x509request.h"

namespace messages {

std::int32_t card_type_number(const std::string& text)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(begin, &end, 10);
    if (end == begin)
        throw std::invalid_argument("invalid stoi argument");
    if (errno == ERANGE || value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max())
        throw std::out_of_range("stoi argument out of range");
    return static_cast<std::int32_t>(value);
}

const char* open_token(crypto::pkcs11::x509request& request, std::int32_t card_type, const std::string& serial)
{
    const auto family = crypto::cards::family_for_card_type(card_type);
    if (!request.select_module(family ? family->c_str() : nullptr))
        return "Ошибка инициализации драйвера PKCS#11";
    if (!request.open_token_session(serial))
        return "Не обнаружен запрошенный носитель";
    return nullptr;
}

token_login::~token_login()
{
    if (logged_in_)
        request_.logout();
}

const char* token_login::login(const std::string& pin)
{
    logged_in_ = request_.login(pin);
    return logged_in_ ? nullptr : "Неудачный логин (неверный ПИН)";
}

}  // namespace messages
