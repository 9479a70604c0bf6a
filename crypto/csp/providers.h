#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "crypto/csp/context.h"

namespace crypto::csp {

// One installed provider: its PP_NAME and PP_PROVTYPE (0 when unreadable).
struct provider_entry {
    std::string name;
    std::uint32_t type = 0;
};

// A verification context for each installed provider that supports at least
// one of the OIDs (exact text), in the enumeration order.
std::vector<verify_context> find_provider_contexts(const std::vector<std::string>& oids);
// The same providers by name and type.
std::vector<provider_entry> list_providers(const std::vector<std::string>& oids);

}  // namespace crypto::csp
