#include "description.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include "crypto/encoding/base64.h"
#include "description_file.h"

namespace pkcs11_standin {
namespace {

using standin_common::environment;
using standin_common::read_description_file;

using tree = boost::property_tree::ptree;

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

unsigned long number(const std::string& text, const std::string& what)
{
    try {
        std::size_t used = 0;
        const unsigned long value = std::stoul(text, &used, 0);
        if (used == text.size())
            return value;
    } catch (const std::exception&) {
    }
    throw std::runtime_error("not a number for " + what + ": \"" + text + "\"");
}

bytes hex_bytes(const std::string& text)
{
    if (text.size() % 2)
        throw std::runtime_error("odd hex text: " + text);
    bytes out;
    for (std::size_t i = 0; i < text.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(number("0x" + text.substr(i, 2), "hex byte")));
    return out;
}

bytes ulong_bytes(unsigned long value)
{
    const CK_ULONG v = value;
    const auto* p = reinterpret_cast<const std::uint8_t*>(&v);
    return bytes(p, p + sizeof(v));
}

CK_ATTRIBUTE_TYPE attribute_type(const std::string& name)
{
    static const std::map<std::string, CK_ATTRIBUTE_TYPE> names = {
        {"CKA_CLASS", CKA_CLASS}, {"CKA_TOKEN", CKA_TOKEN},     {"CKA_PRIVATE", CKA_PRIVATE},
        {"CKA_LABEL", CKA_LABEL}, {"CKA_VALUE", CKA_VALUE},     {"CKA_ID", CKA_ID},
        {"CKA_KEY_TYPE", CKA_KEY_TYPE}, {"CKA_CERTIFICATE_TYPE", CKA_CERTIFICATE_TYPE},
    };
    const auto it = names.find(name);
    return it != names.end() ? it->second : number(name, "attribute type");
}

fault_rules read_faults(const tree& node)
{
    fault_rules rules;
    if (const auto fail = node.get_child_optional("fail")) {
        for (const auto& [function, value] : *fail) {
            fault f;
            if (value.empty()) {
                f.rv = number(value.data(), function);
            } else {
                f.rv = number(value.get<std::string>("rv"), function);
                f.after = number(value.get<std::string>("after", "0"), function);
            }
            rules.fail[function] = f;
        }
    }
    if (const auto overstate = node.get_child_optional("overstate"))
        for (const auto& [function, value] : *overstate)
            rules.overstate[function] = number(value.data(), function);
    if (const auto pad = node.get_child_optional("pad_query"))
        for (const auto& [function, value] : *pad)
            rules.pad_query[function] = number(value.data(), function);
    return rules;
}

object_description read_object(const tree& node)
{
    object_description object;
    const std::string kind = node.get<std::string>("class");
    if (kind == "certificate") {
        object.object_class = CKO_CERTIFICATE;
        object.attributes[CKA_CERTIFICATE_TYPE] = ulong_bytes(CKC_X_509);
    } else if (kind == "private_key") {
        object.object_class = CKO_PRIVATE_KEY;
        object.is_private = true;
        object.attributes[CKA_KEY_TYPE] = ulong_bytes(CKK_GOSTR3410);
    } else if (kind == "public_key") {
        object.object_class = CKO_PUBLIC_KEY;
        object.attributes[CKA_KEY_TYPE] = ulong_bytes(CKK_GOSTR3410);
    } else if (kind == "data") {
        object.object_class = CKO_DATA;
    } else {
        throw std::runtime_error("unknown object class: " + kind);
    }
    object.is_private = node.get<bool>("private", object.is_private);
    object.attributes[CKA_CLASS] = ulong_bytes(object.object_class);
    object.attributes[CKA_TOKEN] = bytes{static_cast<std::uint8_t>(node.get<bool>("token", true) ? CK_TRUE : CK_FALSE)};
    object.attributes[CKA_PRIVATE] = bytes{static_cast<std::uint8_t>(object.is_private ? CK_TRUE : CK_FALSE)};
    if (const auto id = node.get_optional<std::string>("id"))
        object.attributes[CKA_ID] = bytes(id->begin(), id->end());
    if (const auto id = node.get_optional<std::string>("id_hex"))
        object.attributes[CKA_ID] = hex_bytes(*id);
    if (const auto label = node.get_optional<std::string>("label"))
        object.attributes[CKA_LABEL] = bytes(label->begin(), label->end());
    if (const auto value = node.get_optional<std::string>("value"))
        object.attributes[CKA_VALUE] = crypto::base64_decode(*value);
    if (const auto hidden = node.get_child_optional("unavailable"))
        for (const auto& entry : *hidden)
            object.unavailable.insert(attribute_type(entry.second.data()));
    return object;
}

function_list_rules read_function_list(const tree& node)
{
    function_list_rules rules;
    rules.altered = true;
    const std::string version = node.get<std::string>("version", "2.40");
    const auto dot = version.find('.');
    rules.version.major = static_cast<CK_BYTE>(number(version.substr(0, dot), "list version"));
    if (dot != std::string::npos)
        rules.version.minor = static_cast<CK_BYTE>(number(version.substr(dot + 1), "list version"));
    if (const auto entries = node.get_child_optional("null"))
        for (const auto& entry : *entries)
            rules.null_entries.insert(entry.second.data());
    rules.end_after = node.get<std::string>("end_after", "");
    return rules;
}

slot_description read_slot(const tree& node, std::size_t index)
{
    slot_description slot;
    slot.id = number(node.get<std::string>("id", std::to_string(index + 1)), "slot id");
    slot.description = node.get<std::string>("description", "Kelvora Test Token Reader " + std::to_string(index));
    slot.nul_padding = node.get<std::string>("description_padding", "blank") == "nul";
    slot.token_present = node.get<bool>("token_present", true);
    slot.label = node.get<std::string>("token.label", "Kelvora Test Token");
    slot.manufacturer = node.get<std::string>("token.manufacturer", "Kelvora");
    slot.model = node.get<std::string>("token.model", "Stand-in");
    slot.serial = node.get<std::string>("token.serial", "0000000" + std::to_string(index));
    if (const auto total = node.get_optional<std::string>("token.total_memory"))
        slot.total_memory = number(*total, "total memory");
    if (const auto available = node.get_optional<std::string>("token.free_memory"))
        slot.free_memory = number(*available, "free memory");
    if (const auto flags = node.get_optional<std::string>("token.flags"))
        slot.token_flags = number(*flags, "token flags");
    if (const auto version = node.get_optional<std::string>("token.hardware_version")) {
        const auto dot = version->find('.');
        slot.hardware_version.major = static_cast<CK_BYTE>(number(version->substr(0, dot), "hardware version"));
        if (dot != std::string::npos)
            slot.hardware_version.minor = static_cast<CK_BYTE>(number(version->substr(dot + 1), "hardware version"));
    }
    if (const auto mechanisms = node.get_child_optional("mechanisms")) {
        for (const auto& entry : *mechanisms)
            slot.mechanisms.push_back(number(entry.second.data(), "mechanism"));
    } else {
        slot.mechanisms = {CKM_GOSTR3410, 0xD4321006UL, 0xD4321008UL};
    }
    slot.pin = node.get<std::string>("pin", "");
    slot.faults = read_faults(node);
    slot.endless_search = node.get<bool>("endless_search", false);
    if (const auto objects = node.get_child_optional("objects"))
        for (const auto& entry : *objects)
            slot.objects.push_back(read_object(entry.second));
    return slot;
}

}  // namespace

module_description read_description(const std::string& module_name)
{
    module_description module;
    const std::string file = environment(description_variable);
    if (file.empty())
        return module;
    std::istringstream text(read_description_file(file));
    tree root;
    try {
        boost::property_tree::read_json(text, root);
    } catch (const boost::property_tree::json_parser_error& error) {
        throw std::runtime_error(std::string("malformed description: ") + error.what());
    }
    module.log_path = windows_path(root.get<std::string>("log", ""));
    module.store_path = windows_path(root.get<std::string>("store", ""));
    const auto modules = root.get_child_optional("modules");
    if (!modules)
        return module;
    for (const auto& [name, node] : *modules) {
        if (lower(name) != lower(module_name))
            continue;
        module.faults = read_faults(node);
        if (const auto list = node.get_child_optional("function_list"))
            module.function_list = read_function_list(*list);
        if (const auto slots = node.get_child_optional("slots")) {
            std::size_t index = 0;
            for (const auto& entry : *slots)
                module.slots.push_back(read_slot(entry.second, index++));
        }
    }
    load_stored_objects(module, module_name);
    return module;
}

// One line per object: "<module> <slot id> <class> <private 0|1> <type>=<hex> ...",
// module in lower case, numbers in hex.
void store_object(const std::string& store_path, const std::string& module_name, CK_SLOT_ID slot,
                  const object_description& object)
{
    if (store_path.empty())
        return;
    std::ostringstream line;
    line << lower(module_name) << std::hex << ' ' << slot << ' ' << object.object_class << ' '
         << (object.is_private ? 1 : 0);
    static const char digits[] = "0123456789ABCDEF";
    for (const auto& [type, value] : object.attributes) {
        line << ' ' << type << '=';
        for (const std::uint8_t byte : value)
            line << digits[byte >> 4] << digits[byte & 15];
    }
    line << '\n';
    std::ofstream output(store_path, std::ios::binary | std::ios::app);
    output << line.str();
}

void load_stored_objects(module_description& module, const std::string& module_name)
{
    if (module.store_path.empty())
        return;
    std::ifstream input(module.store_path, std::ios::binary);
    std::string line;
    while (std::getline(input, line)) {
        std::istringstream fields(line);
        std::string name, slot_id, object_class, is_private, attribute;
        if (!(fields >> name >> slot_id >> object_class >> is_private) || name != lower(module_name))
            continue;
        const CK_SLOT_ID id = number("0x" + slot_id, "stored slot id");
        object_description object;
        object.object_class = number("0x" + object_class, "stored class");
        object.is_private = is_private == "1";
        while (fields >> attribute) {
            const auto equals = attribute.find('=');
            if (equals == std::string::npos)
                throw std::runtime_error("malformed stored attribute: " + attribute);
            object.attributes[number("0x" + attribute.substr(0, equals), "stored type")] =
                hex_bytes(attribute.substr(equals + 1));
        }
        for (auto& slot : module.slots)
            if (slot.id == id)
                slot.objects.push_back(object);
    }
}

}  // namespace pkcs11_standin
