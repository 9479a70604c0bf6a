#pragma once
// The answer subtree of the request and certificate-writing commands, which
// report their failures in-band: "valid", then "x509request" on success of a
// request, or "errorcode" and "error" on failure.
#include <cstdint>
#include <string>

#include "messages/json.h"

namespace messages {

// The code of the commands' own checks.
constexpr std::int32_t own_check_failed = -1;

json_tree in_band_success();
// "valid" "0", "errorcode" "0x" and eight upper-case hex digits, "error".
json_tree in_band_failure(std::int32_t code, const std::string& error);

}  // namespace messages
