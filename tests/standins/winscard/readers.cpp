#include "readers.h"

#include <windows.h>

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include "description_file.h"

namespace winscard_standin {
namespace {

using standin_common::environment;
using standin_common::read_description_file;
using standin_common::windows_path;

using tree = boost::property_tree::ptree;

long number(const std::string& text)
{
    std::size_t used = 0;
    const long long value = std::stoll(text, &used, 0);
    if (used != text.size())
        throw std::runtime_error("not a number: " + text);
    return static_cast<long>(value);
}

bytes hex_bytes(std::string text)
{
    text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c == ' ' || c == ','; }), text.end());
    if (text.size() % 2)
        throw std::runtime_error("odd hex text: " + text);
    bytes out;
    for (std::size_t i = 0; i < text.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return out;
}

std::wstring wide(const std::string& text)
{
    if (text.empty())
        return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

reader_description read_reader(const tree& node)
{
    reader_description reader;
    reader.name = wide(node.get<std::string>("name"));
    reader.present = node.get<bool>("present", true);
    reader.atr = hex_bytes(node.get<std::string>("atr", ""));
    reader.reported_atr = number(node.get<std::string>("reported_atr", "-1"));
    reader.protocol = static_cast<std::uint32_t>(number(node.get<std::string>("protocol", "2")));
    reader.connect_result = number(node.get<std::string>("connect_result", "0"));
    reader.status_result = number(node.get<std::string>("status_result", "0"));
    if (const auto script = node.get_child_optional("script")) {
        for (const auto& [key, step] : *script) {
            (void)key;
            scripted_reply reply;
            reply.reply = hex_bytes(step.get<std::string>("reply", ""));
            reply.result = number(step.get<std::string>("result", "0"));
            reply.reported = number(step.get<std::string>("reported", "-1"));
            reader.script[hex_bytes(step.get<std::string>("command"))] = reply;
        }
    }
    return reader;
}

}  // namespace

service_description read_description()
{
    service_description service;
    const std::string file = environment("KELVORA_WINSCARD_STANDIN");
    if (file.empty())
        return service;
    std::istringstream text(read_description_file(file));
    tree root;
    boost::property_tree::read_json(text, root);
    service.log_path = windows_path(root.get<std::string>("log", ""));
    if (const auto fail = root.get_child_optional("fail"))
        for (const auto& [function, value] : *fail)
            service.fail[function] = number(value.data());
    service.extra_list_length = number(root.get<std::string>("extra_list_length", "0"));
    service.extra_query_length =
        static_cast<unsigned long>(number(root.get<std::string>("extra_query_length", "0")));
    service.no_final_nul = root.get<bool>("no_final_nul", false);
    if (const auto readers = root.get_child_optional("readers"))
        for (const auto& entry : *readers)
            service.readers.push_back(read_reader(entry.second));
    return service;
}

void log_line(const std::string& path, const std::string& line)
{
    if (path.empty())
        return;
    const HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::string hex(const std::uint8_t* data, std::size_t size)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; data && i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

}  // namespace winscard_standin
