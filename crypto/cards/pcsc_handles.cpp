#include "crypto/cards/pcsc_handles.h"

#include <algorithm>

namespace crypto::cards {

pcsc_context::pcsc_context()
{
    SCARDCONTEXT handle = 0;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &handle) == SCARD_S_SUCCESS)
        handle_ = handle;
}

pcsc_context::~pcsc_context()
{
    if (handle_)
        SCardReleaseContext(handle_);
}

card_connection::card_connection(SCARDCONTEXT context, const std::wstring& reader)
{
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    if (SCardConnectW(context, reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card,
                      &protocol) != SCARD_S_SUCCESS)
        return;
    card_ = card;
    if (protocol == SCARD_PROTOCOL_T0)
        header_ = SCARD_PCI_T0;
    else if (protocol == SCARD_PROTOCOL_T1)
        header_ = SCARD_PCI_T1;
}

card_connection::~card_connection()
{
    if (card_)
        SCardDisconnect(card_, SCARD_LEAVE_CARD);
}

std::optional<card_reply> card_connection::transmit(const std::vector<std::uint8_t>& command)
{
    if (!connected())
        return std::nullopt;
    DWORD length = receive_limit;
    if (SCardTransmit(card_, header_, command.data(), static_cast<DWORD>(command.size()), nullptr, received_.data(),
                      &length) != SCARD_S_SUCCESS)
        return std::nullopt;
    // A card's reported length reaches no further than the buffer it was given.
    return split_reply(received_.data(), std::min<DWORD>(length, receive_limit));
}

}  // namespace crypto::cards
