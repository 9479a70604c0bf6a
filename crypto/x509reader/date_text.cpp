#include <cstdio>
#include <string>

#include "crypto/x509reader/text_forms.h"

namespace crypto::x509reader {

std::string format_date_ru(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                           unsigned second)
{
    static const char* const months[] = {"января", "февраля", "марта",    "апреля",  "мая",    "июня",
                                         "июля",   "августа", "сентября", "октября", "ноября", "декабря"};
    if (month < 1 || month > 12)
        return {};
    char text[128];
    std::snprintf(text, sizeof text, "%u %s %04u г. %02u:%02u:%02u UTC", day, months[month - 1], year, hour, minute,
                  second);
    return text;
}

}  // namespace crypto::x509reader
