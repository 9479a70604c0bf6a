#include "crypto/cards/card_probes.h"

#include <cstdio>
#include <string>

#include "crypto/cards/fixed_text.h"

namespace crypto::cards {
namespace {

using command = std::vector<std::uint8_t>;

std::string hex32(std::uint32_t value)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(value));
    return text;
}

std::string data_text(const card_reply& reply, std::size_t from = 0)
{
    if (from >= reply.data.size())
        return {};
    return reply_text(reply.data.data() + from, reply.data.size() - from);
}

// Memory figures are signed 32-bit fields; larger values keep their bits.
std::int32_t as_signed(std::uint32_t value)
{
    return static_cast<std::int32_t>(value);
}

}  // namespace

std::optional<std::uint32_t> card_reply::big_endian(std::size_t position) const
{
    if (position > data.size() || data.size() - position < 4)
        return std::nullopt;
    const std::uint8_t* p = data.data() + position;
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

std::optional<std::uint32_t> card_reply::little_endian(std::size_t position) const
{
    if (position > data.size() || data.size() - position < 4)
        return std::nullopt;
    const std::uint8_t* p = data.data() + position;
    return static_cast<std::uint32_t>(p[3]) << 24 | static_cast<std::uint32_t>(p[2]) << 16 |
           static_cast<std::uint32_t>(p[1]) << 8 | p[0];
}

std::optional<card_reply> split_reply(const std::uint8_t* received, std::size_t length)
{
    if (!received || length < 2)
        return std::nullopt;
    card_reply reply;
    reply.data.assign(received, received + length - 2);
    reply.sw1 = received[length - 2];
    reply.sw2 = received[length - 1];
    return reply;
}

bool probe_etoken_pro(card_channel& card, smartcard_info& record)
{
    if (!card.transmit({0x00, 0xA4, 0x04, 0x00, 0x07, 0xA0, 0x00, 0x00, 0x03, 0x12, 0x02, 0x02, 0x00}))
        return false;
    if (!card.transmit({0x00, 0xA4, 0x08, 0x0C, 0x06, 0x66, 0x66, 0x50, 0x00, 0x00, 0x02, 0x00}))
        return false;
    const auto label = card.transmit({0x80, 0x18, 0x00, 0x00, 0x04, 0x0E, 0x02, 0x00, 0x00, 0x00});
    if (!label)
        return false;
    record.label = data_text(*label);
    const auto total = card.transmit({0x00, 0xCA, 0x01, 0x13, 0x08});
    if (!total)
        return false;
    if (const auto value = total->big_endian(2))
        record.totalmem = as_signed(*value);
    const auto available = card.transmit({0x00, 0xCA, 0x01, 0x14, 0x08});
    if (!available)
        return false;
    if (const auto value = available->big_endian(2))
        record.freemem = as_signed(*value);
    const auto serial = card.transmit({0x00, 0xCA, 0x01, 0x07, 0x00});
    if (!serial)
        return false;
    if (const auto value = serial->big_endian(4))
        record.serial = hex32(*value);
    record.model = "eToken PRO 72k";
    return true;
}

bool probe_rutoken_lite(card_channel& card, smartcard_info& record)
{
    const auto selected = card.transmit({0x00, 0xA4, 0x08, 0x00, 0x06, 0x10, 0x00, 0x10, 0x00, 0x10, 0x00, 0x00});
    if (!selected)
        return false;
    if (selected->data.empty() && selected->sw1 == 0x6A && selected->sw2 == 0x82) {
        record.label.clear();
    } else {
        const auto contents = card.transmit({0x00, 0xB0, 0x00, 0x00, 0x00});
        if (!contents)
            return false;
        record.label = data_text(*contents, 8);
    }
    const auto memory = card.transmit({0x00, 0xCA, 0x01, 0x8A, 0x04});
    if (!memory)
        return false;
    record.totalmem = 0x8000;
    if (const auto value = memory->big_endian(0))
        record.freemem = as_signed(*value);
    const auto serial = card.transmit({0x00, 0xCA, 0x01, 0x81, 0x08});
    if (!serial)
        return false;
    // A reply of more than eight bytes holds two numbers, high and low.
    if (serial->data.size() + 2 > 8) {
        const auto high = serial->big_endian(0);
        const auto low = serial->big_endian(4);
        if (high && low)
            record.serial = *high != 0 ? hex32(*high) + hex32(*low) : hex32(*low);
    } else if (const auto value = serial->big_endian(0)) {
        record.serial = hex32(*value);
    }
    record.model = "Rutoken Lite";
    return true;
}

bool probe_rutoken_s(card_channel& card, smartcard_info& record)
{
    record.label.clear();
    const auto memory = card.transmit({0x00, 0xCA, 0x01, 0x8A, 0x04});
    if (!memory)
        return false;
    record.totalmem = 0x8000;
    if (const auto value = memory->little_endian(0))
        record.freemem = as_signed(*value);
    const auto serial = card.transmit({0x00, 0xCA, 0x01, 0x81, 0x08});
    if (!serial)
        return false;
    if (const auto value = serial->little_endian(0))
        record.serial = hex32(*value);
    record.model = "Rutoken S";
    return true;
}

bool probe_jacarta_lt(card_channel& card, smartcard_info& record)
{
    if (!card.transmit({0x00, 0xA4, 0x04, 0x00, 0x08, 0xA0, 0x00, 0x00, 0x04, 0x48, 0x00, 0x03, 0x01}))
        return false;
    const auto label = card.transmit({0x80, 0x30, 0x10, 0x00, 0x20});
    if (!label || !label->status_ok())
        return false;
    record.label = data_text(*label);
    const auto memory = card.transmit({0x80, 0x30, 0x30, 0x00, 0x18});
    if (memory && memory->status_ok()) {
        record.totalmem = 0xFFFF;
        if (memory->data.size() > 6)
            record.freemem = memory->data[5] * 256 + memory->data[6];
        std::string serial;
        for (std::size_t i = 22; i < 30 && i < memory->data.size(); ++i) {
            char digits[3];
            std::snprintf(digits, sizeof digits, "%02X", memory->data[i]);
            serial += digits;
        }
        record.serial = serial;
    }
    record.model = "JaCarta LT";
    return true;
}

}  // namespace crypto::cards
