#pragma once
// Which smart cards and tokens are present: the PC/SC readers that hold a
// card known by its ATR, and one smartcard_info per card, read from its
// family's PKCS#11 module or by APDU probes.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crypto/byte_vector.h"
#include "crypto/cards/smartcard_info.h"

namespace crypto::cards {

// A reader that holds a card recognised by its ATR.
struct reader_entry {
    std::string name;          // UTF-8
    std::wstring system_name;  // as PC/SC listed it, for connecting
    byte_vector atr;
    std::int32_t card_type = -1;
    std::string model;
    std::optional<std::string> family;
    bool pkcs11 = false;  // read through the family's PKCS#11 module
};

using reader_map = std::map<std::string, reader_entry>;

// Used once per command. Each pass opens its own PC/SC contexts and releases
// them; nothing it finds outlives the object.
class smartcard_inventory {
public:
    smartcard_inventory() = default;
    smartcard_inventory(const smartcard_inventory&) = delete;
    smartcard_inventory& operator=(const smartcard_inventory&) = delete;

    // Fills the reader map (none when no reader holds a known card).
    void scan_readers();
    // Scans the readers and builds the card list: the on-board GOST-2012
    // tokens first, then the other records, each group in serial order.
    // PKCS#11 failures throw crypto::pkcs11::exception.
    void collect_cards();
    // A copy of the collected records; none when no card was found.
    std::unique_ptr<std::vector<smartcard_info>> list_cards() const;

    const reader_map* readers() const { return readers_.get(); }

    // Fill the record from the card in the reader; false when it did not answer.
    bool probe_etoken_pro(const std::string& reader, smartcard_info& record);
    bool probe_rutoken_lite(const std::string& reader, smartcard_info& record);
    bool probe_rutoken_s(const std::string& reader, smartcard_info& record);
    bool probe_jacarta_lt(const std::string& reader, smartcard_info& record);

private:
    using serial_map = std::map<std::string, smartcard_info>;
    void collect_pkcs11_family(const std::string& family, serial_map& hardware, serial_map& plain) const;
    void collect_probed(const std::string& reader, serial_map& plain);

    std::uintptr_t context_ = 0;
    std::unique_ptr<std::vector<smartcard_info>> cards_;
    std::unique_ptr<reader_map> readers_;
};

}  // namespace crypto::cards
