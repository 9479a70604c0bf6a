#include "messages/in_band_result.h"

#include "crypto/encoding/hex.h"

namespace messages {

json_tree in_band_success()
{
    json_tree result;
    result.put("valid", "1");
    return result;
}

json_tree in_band_failure(std::int32_t code, const std::string& error)
{
    json_tree result;
    result.put("valid", "0");
    result.put("errorcode", crypto::format_hex32(code));
    result.put("error", error);
    return result;
}

}  // namespace messages
