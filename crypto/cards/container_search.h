#pragma once
// Finds the key containers whose public key has a given SHA-1 hash: the
// containers of CryptoAPI providers and the public-key objects of PKCS#11
// tokens. Hits are appended in the order they are found, duplicates kept.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crypto/byte_vector.h"
#include "crypto/cards/container_info.h"
#include "crypto/cards/smartcard_inventory.h"

namespace crypto::pkcs11 {
class object_budget;
class session;
class slot;
}  // namespace crypto::pkcs11

namespace crypto::cards {

using container_list = std::vector<container_info>;

// The raw public key of a GOST PUBLICKEYBLOB (BitLen at offset 12, the DER
// parameter sequence at offset 16 with its one-byte length at 17, the key
// after it); empty when the blob does not hold all of it.
byte_vector public_key_from_blob(const byte_vector& blob);

// Every container of one CryptoAPI provider.
void scan_csp_provider_containers(const std::string& provider, std::uint32_t type, const byte_vector& pkhash,
                                  container_list& results);
// One CryptoAPI container; a container that cannot be opened or whose key
// cannot be read is skipped.
void check_csp_container(const std::string& provider, std::uint32_t type, const std::string& container,
                         const byte_vector& pkhash, container_list& results);

// Every GOST-2012-capable token slot of the PKCS#11 module of the entry's
// family. A hit carries the card type of the scanned reader named like its
// slot, else the entry's. PKCS#11 failures outside one object's reading throw.
// The slots' searches share one object budget, so a module whose searches
// never end is scanned only that far.
void scan_pkcs11_module(const reader_entry& entry, const reader_map& readers, const byte_vector& pkhash,
                        container_list& results);
// The public-key objects of one token, as many as the budget still allows.
void scan_pkcs11_slot(const std::shared_ptr<pkcs11::session>& token_session, const byte_vector& pkhash,
                      container_list& results, std::int32_t card_type, const reader_map& readers,
                      const pkcs11::slot& token_slot, pkcs11::object_budget& budget);

}  // namespace crypto::cards
