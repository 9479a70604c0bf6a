#pragma once
// Owners of PC/SC handles, and a card_channel over one connected card.
#include <windows.h>
#include <winscard.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crypto/cards/card_probes.h"

namespace crypto::cards {

// A user-scope PC/SC context, released at destruction; 0 when none was made.
class pcsc_context {
public:
    pcsc_context();
    ~pcsc_context();
    pcsc_context(const pcsc_context&) = delete;
    pcsc_context& operator=(const pcsc_context&) = delete;

    SCARDCONTEXT get() const { return handle_; }

private:
    SCARDCONTEXT handle_ = 0;
};

// One card connected in shared mode over T0 or T1, left in the reader at
// destruction. Not connected when the connect failed or the card speaks
// another protocol.
class card_connection : public card_channel {
public:
    card_connection(SCARDCONTEXT context, const std::wstring& reader);
    ~card_connection() override;
    card_connection(const card_connection&) = delete;
    card_connection& operator=(const card_connection&) = delete;

    bool connected() const { return card_ != 0 && header_ != nullptr; }
    std::optional<card_reply> transmit(const std::vector<std::uint8_t>& command) override;

private:
    static constexpr DWORD receive_limit = 256;

    SCARDHANDLE card_ = 0;
    const SCARD_IO_REQUEST* header_ = nullptr;
    std::array<std::uint8_t, 258> received_{};
};

}  // namespace crypto::cards
