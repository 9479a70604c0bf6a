#include "crypto/cards/smartcard_inventory.h"

#include <algorithm>
#include <memory>
#include <set>

#include "crypto/cards/atr_table.h"
#include "crypto/cards/fixed_text.h"
#include "crypto/cards/pcsc_handles.h"
#include "crypto/csp/wide_text.h"
#include "crypto/encoding/text.h"
#include "crypto/pkcs11/module_registry.h"
#include "crypto/pkcs11/session.h"
#include "crypto/pkcs11/slot.h"
#include "crypto/util/written_part.h"

namespace crypto::cards {
namespace {

// The most characters the reader list is read with: hundreds of readers with
// long names. A longer length that the service asks for gets a buffer of this
// size, which a service with that many readers refuses.
constexpr DWORD reader_list_capacity = 64 * 1024;

// The reader names PC/SC lists, walked within the length it reports (a
// missing final NUL ends the last name).
std::vector<std::wstring> list_reader_names(SCARDCONTEXT context)
{
    DWORD length = 0;
    if (SCardListReadersW(context, nullptr, nullptr, &length) != SCARD_S_SUCCESS || length == 0)
        return {};
    std::vector<wchar_t> buffer(std::min(length, reader_list_capacity), L'\0');
    auto filled = static_cast<DWORD>(buffer.size());
    if (SCardListReadersW(context, nullptr, buffer.data(), &filled) != SCARD_S_SUCCESS)
        return {};
    const std::size_t end = util::written_part(filled, buffer.size());
    std::vector<std::wstring> names;
    std::size_t start = 0;
    while (start < end) {
        std::size_t stop = start;
        while (stop < end && buffer[stop] != L'\0')
            ++stop;
        if (stop == start)
            break;  // the empty name that ends the list
        names.emplace_back(buffer.data() + start, stop - start);
        start = stop + 1;
    }
    return names;
}

std::int32_t memory_figure(CK_ULONG value)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

}  // namespace

void smartcard_inventory::scan_readers()
{
    readers_.reset();
    pcsc_context context;
    context_ = context.get();
    if (!context.get())
        return;
    for (const auto& name : list_reader_names(context.get())) {
        SCARD_READERSTATEW state{};
        state.szReader = name.c_str();
        state.dwCurrentState = SCARD_STATE_UNAWARE;
        if (SCardGetStatusChangeW(context.get(), 0, &state, 1) != SCARD_S_SUCCESS ||
            !(state.dwEventState & SCARD_STATE_PRESENT))
            continue;
        const std::size_t atr_size = std::min<std::size_t>(state.cbAtr, sizeof(state.rgbAtr));
        const atr_row* row = find_card_by_atr(state.rgbAtr, atr_size);
        if (!row)
            continue;
        reader_entry entry;
        entry.name = csp::utf8_text(name);
        entry.system_name = name;
        entry.atr.assign(state.rgbAtr, state.rgbAtr + atr_size);
        entry.card_type = row->type;
        entry.model = row->model;
        entry.family = family_for_card_type(row->type);
        entry.pkcs11 = row->pkcs11;
        if (!readers_)
            readers_ = std::make_unique<reader_map>();
        readers_->emplace(entry.name, std::move(entry));
    }
}

void smartcard_inventory::collect_pkcs11_family(const std::string& family, serial_map& hardware,
                                                serial_map& plain) const
{
    const auto modules = pkcs11::loaded_pkcs11_modules();
    const auto module = modules.find(family);
    if (module == modules.end() || !module->second)
        return;
    for (const auto& token_slot : module->second.slots()) {
        const auto token_session = token_slot.open_session(false);
        const CK_SLOT_INFO slot_info = token_slot.get_info();
        const auto reader = readers_->find(field_text(slot_info.slotDescription, sizeof(slot_info.slotDescription)));
        if (reader == readers_->end())
            continue;
        const CK_TOKEN_INFO token = token_slot.get_token_info();
        smartcard_info record;
        record.reader = reader->first;
        record.type = reader->second.card_type;
        record.brand = reader->second.model;
        record.label = field_text(token.label, sizeof(token.label));
        record.model = field_text(token.model, sizeof(token.model));
        record.serial = field_text(token.serialNumber, sizeof(token.serialNumber));
        record.totalmem = memory_figure(token.ulTotalPublicMemory);
        record.freemem = memory_figure(token.ulFreePublicMemory);
        record.hardware = token_slot.supports_gost_2012();
        // A Rutoken ECP without GOST R 34.10-2001 is not a usable token, and
        // the ESMART Token GOST never signs on board.
        if (record.type == 4 && !token_slot.supports_gost_2001())
            continue;
        if (record.type == 10)
            record.hardware = false;
        (record.hardware ? hardware : plain).emplace(record.serial, record);
    }
}

void smartcard_inventory::collect_probed(const std::string& reader, serial_map& plain)
{
    const reader_entry& entry = readers_->at(reader);
    smartcard_info record;
    record.reader = reader;
    record.type = entry.card_type;
    record.brand = entry.model;
    bool answered = false;
    switch (entry.card_type) {
    case 1: answered = probe_etoken_pro(reader, record); break;
    case 3: answered = probe_rutoken_s(reader, record); break;
    case 5: answered = probe_rutoken_lite(reader, record); break;
    case 6: answered = probe_jacarta_lt(reader, record); break;
    default: break;
    }
    if (answered)
        plain.emplace(record.serial, record);
}

void smartcard_inventory::collect_cards()
{
    cards_.reset();
    serial_map hardware, plain;
    std::set<std::string> families, probe_readers;
    scan_readers();
    if (readers_) {
        for (const auto& [name, entry] : *readers_) {
            if (!entry.family)
                continue;
            if (entry.pkcs11)
                families.insert(*entry.family);
            else
                probe_readers.insert(name);
        }
        for (const auto& family : families)
            collect_pkcs11_family(family, hardware, plain);
        if (!probe_readers.empty()) {
            pcsc_context context;
            context_ = context.get();
            for (const auto& reader : probe_readers)
                collect_probed(reader, plain);
            context_ = context.get();
        }
    }
    if (hardware.empty() && plain.empty())
        return;
    cards_ = std::make_unique<std::vector<smartcard_info>>();
    for (const auto& [serial, record] : hardware) {
        if (plain.find(serial) == plain.end()) {
            smartcard_info copy = record;
            copy.hardware = false;
            plain.emplace(serial, std::move(copy));
        }
        cards_->push_back(record);
    }
    for (const auto& [serial, record] : plain)
        cards_->push_back(record);
}

std::unique_ptr<std::vector<smartcard_info>> smartcard_inventory::list_cards() const
{
    if (!cards_)
        return nullptr;
    return std::make_unique<std::vector<smartcard_info>>(*cards_);
}

namespace {

template <typename Probe>
bool probe_reader(std::uintptr_t context, const reader_map* readers, const std::string& reader,
                  smartcard_info& record, Probe probe)
{
    if (!readers)
        return false;
    const auto entry = readers->find(reader);
    if (entry == readers->end())
        return false;
    card_connection card(static_cast<SCARDCONTEXT>(context), entry->second.system_name);
    return card.connected() && probe(card, record);
}

}  // namespace

bool smartcard_inventory::probe_etoken_pro(const std::string& reader, smartcard_info& record)
{
    return probe_reader(context_, readers_.get(), reader, record, cards::probe_etoken_pro);
}

bool smartcard_inventory::probe_rutoken_lite(const std::string& reader, smartcard_info& record)
{
    return probe_reader(context_, readers_.get(), reader, record, cards::probe_rutoken_lite);
}

bool smartcard_inventory::probe_rutoken_s(const std::string& reader, smartcard_info& record)
{
    return probe_reader(context_, readers_.get(), reader, record, cards::probe_rutoken_s);
}

bool smartcard_inventory::probe_jacarta_lt(const std::string& reader, smartcard_info& record)
{
    return probe_reader(context_, readers_.get(), reader, record, cards::probe_jacarta_lt);
}

}  // namespace crypto::cards
