#pragma once
// The APDU exchanges that describe the cards read without PKCS#11 (eToken PRO,
// Rutoken S, Rutoken Lite, JaCarta LT). Platform-free: the exchange runs over
// a card_channel, which the PC/SC inventory implements with SCardTransmit.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "crypto/cards/smartcard_info.h"

namespace crypto::cards {

// What a card returned for one command: its data bytes and the two status
// bytes that end every reply.
struct card_reply {
    std::vector<std::uint8_t> data;
    std::uint8_t sw1 = 0;
    std::uint8_t sw2 = 0;

    bool status_ok() const { return sw1 == 0x90 && sw2 == 0x00; }
    // A number whose bytes are not all in the data is none.
    std::optional<std::uint32_t> big_endian(std::size_t position) const;
    std::optional<std::uint32_t> little_endian(std::size_t position) const;
};

// A reply that holds at least its status word; none for a failed
// transmission (a reply shorter than two bytes counts as failed).
std::optional<card_reply> split_reply(const std::uint8_t* received, std::size_t length);

class card_channel {
public:
    virtual ~card_channel() = default;
    // Sends one command; none when the transmission failed.
    virtual std::optional<card_reply> transmit(const std::vector<std::uint8_t>& command) = 0;
};

// Each fills label, model, serial and the memory figures of the record and
// tells whether the card answered; a failed step answers false.
bool probe_etoken_pro(card_channel& card, smartcard_info& record);
bool probe_rutoken_lite(card_channel& card, smartcard_info& record);
bool probe_rutoken_s(card_channel& card, smartcard_info& record);
bool probe_jacarta_lt(card_channel& card, smartcard_info& record);

}  // namespace crypto::cards
