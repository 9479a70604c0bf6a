// The PC/SC functions the plug-in calls, over the readers of the description.
#define WINSCARDAPI
#define WINSCARDDATA
#include <windows.h>
#include <winscard.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <map>
#include <mutex>

#include "readers.h"

using namespace winscard_standin;

extern "C" {
const SCARD_IO_REQUEST g_rgSCardT0Pci = {SCARD_PROTOCOL_T0, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardT1Pci = {SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};
}

namespace {

std::mutex lock;
service_description service;
ULONG_PTR next_handle = 0x5C00;
std::map<SCARDHANDLE, std::size_t> cards;  // card handle -> reader index

std::string utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

void log(const std::string& line)
{
    log_line(service.log_path, line);
}

// The injected result of a function, 0 when none.
LONG injected(const char* function)
{
    const auto rule = service.fail.find(function);
    return rule == service.fail.end() ? 0 : static_cast<LONG>(rule->second);
}

const reader_description* find_reader(const wchar_t* name)
{
    if (!name)
        return nullptr;
    for (const auto& reader : service.readers)
        if (reader.name == name)
            return &reader;
    return nullptr;
}

}  // namespace

extern "C" {

LONG WINAPI SCardEstablishContext(DWORD scope, LPCVOID, LPCVOID, LPSCARDCONTEXT context)
{
    const std::lock_guard<std::mutex> guard(lock);
    try {
        service = read_description();
    } catch (const std::exception&) {
        service = service_description();
        return SCARD_F_INTERNAL_ERROR;
    }
    log("SCardEstablishContext scope=" + std::to_string(scope));
    if (const LONG rv = injected("SCardEstablishContext"))
        return rv;
    if (!context)
        return SCARD_E_INVALID_PARAMETER;
    *context = next_handle++;
    return SCARD_S_SUCCESS;
}

LONG WINAPI SCardReleaseContext(SCARDCONTEXT context)
{
    const std::lock_guard<std::mutex> guard(lock);
    log("SCardReleaseContext " + std::to_string(context));
    return SCARD_S_SUCCESS;
}

LONG WINAPI SCardListReadersW(SCARDCONTEXT, LPCWSTR, LPWSTR buffer, LPDWORD length)
{
    const std::lock_guard<std::mutex> guard(lock);
    log(std::string("SCardListReadersW buffer=") + (buffer ? std::to_string(length ? *length : 0) : "null"));
    if (const LONG rv = injected("SCardListReadersW"))
        return rv;
    if (!length)
        return SCARD_E_INVALID_PARAMETER;
    if (service.readers.empty())
        return SCARD_E_NO_READERS_AVAILABLE;
    std::wstring list;
    for (const auto& reader : service.readers) {
        list += reader.name;
        list += L'\0';
    }
    if (service.no_final_nul)
        list.pop_back();
    else
        list += L'\0';
    if (!buffer) {
        *length = static_cast<DWORD>(list.size() + service.extra_query_length);
        return SCARD_S_SUCCESS;
    }
    if (*length < list.size())
        return SCARD_E_INSUFFICIENT_BUFFER;
    std::copy(list.begin(), list.end(), buffer);
    *length = static_cast<DWORD>(list.size() + static_cast<std::size_t>(service.extra_list_length));
    return SCARD_S_SUCCESS;
}

LONG WINAPI SCardGetStatusChangeW(SCARDCONTEXT, DWORD timeout, LPSCARD_READERSTATEW states, DWORD count)
{
    const std::lock_guard<std::mutex> guard(lock);
    if (const LONG rv = injected("SCardGetStatusChangeW"))
        return rv;
    for (DWORD i = 0; states && i < count; ++i) {
        SCARD_READERSTATEW& state = states[i];
        log("SCardGetStatusChangeW " + utf8(state.szReader ? state.szReader : L"") + " timeout=" +
            std::to_string(timeout) + " current=" + std::to_string(state.dwCurrentState));
        const reader_description* reader = find_reader(state.szReader);
        if (!reader) {
            state.dwEventState = SCARD_STATE_UNKNOWN | SCARD_STATE_CHANGED;
            return SCARD_E_UNKNOWN_READER;
        }
        if (reader->status_result)
            return reader->status_result;
        std::memset(state.rgbAtr, 0, sizeof(state.rgbAtr));
        if (!reader->present) {
            state.dwEventState = SCARD_STATE_EMPTY | SCARD_STATE_CHANGED;
            state.cbAtr = 0;
            continue;
        }
        state.dwEventState = SCARD_STATE_PRESENT | SCARD_STATE_CHANGED;
        const std::size_t copied = std::min(reader->atr.size(), sizeof(state.rgbAtr));
        std::copy(reader->atr.begin(), reader->atr.begin() + static_cast<std::ptrdiff_t>(copied), state.rgbAtr);
        state.cbAtr = reader->reported_atr >= 0 ? static_cast<DWORD>(reader->reported_atr)
                                                : static_cast<DWORD>(reader->atr.size());
    }
    return SCARD_S_SUCCESS;
}

LONG WINAPI SCardConnectW(SCARDCONTEXT, LPCWSTR name, DWORD share, DWORD protocols, LPSCARDHANDLE card,
                          LPDWORD active)
{
    const std::lock_guard<std::mutex> guard(lock);
    log("SCardConnectW " + utf8(name ? name : L"") + " share=" + std::to_string(share) +
        " protocols=" + std::to_string(protocols));
    if (const LONG rv = injected("SCardConnectW"))
        return rv;
    const reader_description* reader = find_reader(name);
    if (!reader)
        return SCARD_E_UNKNOWN_READER;
    if (!reader->present)
        return SCARD_E_NO_SMARTCARD;
    if (reader->connect_result)
        return reader->connect_result;
    if (!card || !active)
        return SCARD_E_INVALID_PARAMETER;
    *card = next_handle++;
    *active = reader->protocol;
    cards[*card] = static_cast<std::size_t>(reader - service.readers.data());
    return SCARD_S_SUCCESS;
}

LONG WINAPI SCardTransmit(SCARDHANDLE card, LPCSCARD_IO_REQUEST header, LPCBYTE command, DWORD command_length,
                          LPSCARD_IO_REQUEST, LPBYTE received, LPDWORD received_length)
{
    const std::lock_guard<std::mutex> guard(lock);
    const auto connected = cards.find(card);
    if (connected == cards.end())
        return SCARD_E_INVALID_HANDLE;
    const reader_description& reader = service.readers[connected->second];
    const char* protocol = header == &g_rgSCardT0Pci ? "T0" : header == &g_rgSCardT1Pci ? "T1" : "other";
    log("SCardTransmit " + utf8(reader.name) + " " + protocol + " " + hex(command, command_length));
    if (!command || !received || !received_length)
        return SCARD_E_INVALID_PARAMETER;
    const auto step = reader.script.find(bytes(command, command + command_length));
    scripted_reply reply;
    if (step != reader.script.end())
        reply = step->second;
    else
        reply.reply = {0x6D, 0x00};  // instruction not supported
    if (reply.result)
        return reply.result;
    if (reply.reply.size() > *received_length)
        return SCARD_E_INSUFFICIENT_BUFFER;
    std::copy(reply.reply.begin(), reply.reply.end(), received);
    *received_length = reply.reported >= 0 ? static_cast<DWORD>(reply.reported) : static_cast<DWORD>(reply.reply.size());
    return SCARD_S_SUCCESS;
}

LONG WINAPI SCardDisconnect(SCARDHANDLE card, DWORD disposition)
{
    const std::lock_guard<std::mutex> guard(lock);
    const auto connected = cards.find(card);
    if (connected == cards.end())
        return SCARD_E_INVALID_HANDLE;
    log("SCardDisconnect " + utf8(service.readers[connected->second].name) + " disposition=" +
        std::to_string(disposition));
    cards.erase(connected);
    return SCARD_S_SUCCESS;
}

}  // extern "C"
