#include "crypto/csp/store_names.h"

#include <stdexcept>

namespace crypto::csp {

// A function-local static: built once, whichever translation unit asks first.
const std::map<int, const char*>& store_names()
{
    static const std::map<int, const char*> names = {
        {0, "CA"},
        {1, "MY"},
        {2, "ROOT"},
        {3, "SPC"},
    };
    return names;
}

const char* store_name(int kind)
{
    const auto& names = store_names();
    const auto found = names.find(kind);
    if (found == names.end())
        throw std::out_of_range("invalid map<K, T> key");
    return found->second;
}

}  // namespace crypto::csp
