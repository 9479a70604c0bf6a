#pragma once
#include <map>

namespace crypto::csp {

// Store kind -> system certificate-store name; built before main runs.
const std::map<int, const char*>& store_names();
// The name for kind; an absent kind throws std::out_of_range ("invalid map<K, T> key").
const char* store_name(int kind);

// The kind of the current user's personal store, "MY".
constexpr int personal_store_kind = 1;

}  // namespace crypto::csp
