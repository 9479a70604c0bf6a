#include "standin_support.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include <boost/property_tree/json_parser.hpp>

#include "crypto/encoding/base64.h"
#include "crypto/pkcs11/module_registry.h"
#include "crypto/sha2/sha256.h"

namespace pkcs11_test {
namespace {

using path = tree::path_type;

std::string temp_file(const char* prefix)
{
    char folder[MAX_PATH];
    char name[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    GetTempFileNameA(folder, prefix, 0, name);
    return name;
}

std::string hex_text(unsigned long value)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%lX", value);
    return text;
}

}  // namespace

tree& description::module(const std::string& name)
{
    const path key("modules/" + name, '/');
    if (!root_.get_child_optional(key))
        root_.put_child(key, tree());
    return root_.get_child(key);
}

tree& description::add_slot(const std::string& module_name, const std::string& reader, const std::string& pin)
{
    tree& node = module(module_name);
    if (!node.get_child_optional("slots"))
        node.put_child("slots", tree());
    tree slot;
    slot.put("description", reader);
    slot.put("pin", pin);
    slot.put_child("objects", tree());
    auto& slots = node.get_child("slots");
    slots.push_back({"", slot});
    return slots.back().second;
}

tree certificate_object(const bytes& der, const std::string& id, const std::string& label)
{
    tree object;
    object.put("class", "certificate");
    object.put("value", crypto::base64_encode(der));
    object.put("id", id);
    object.put("label", label);
    return object;
}

tree private_key_object(const std::string& id)
{
    tree object;
    object.put("class", "private_key");
    object.put("id", id);
    return object;
}

void add_object(tree& slot, const tree& object)
{
    if (!slot.get_child_optional("objects"))
        slot.put_child("objects", tree());
    slot.get_child("objects").push_back({"", object});
}

void inject_failure(tree& node, const std::string& function, unsigned long rv, unsigned long after)
{
    tree rule;
    rule.put("rv", hex_text(rv));
    rule.put("after", std::to_string(after));
    node.put_child(path("fail/" + function, '/'), rule);
}

void set_number(tree& node, const std::string& group, const std::string& function, unsigned long value)
{
    node.put(path(group + "/" + function, '/'), std::to_string(value));
}

void set_mechanisms(tree& slot, const std::vector<unsigned long>& mechanisms)
{
    tree list;
    for (const unsigned long mechanism : mechanisms)
        list.push_back({"", tree(hex_text(mechanism))});
    slot.put_child("mechanisms", list);
}

standin_fixture::standin_fixture()
    : description_path_(temp_file("p11")), log_path_(temp_file("log"))
{
    SetEnvironmentVariableA("KELVORA_PKCS11_STANDIN", description_path_.c_str());
    install(description());
}

standin_fixture::~standin_fixture()
{
    unload_modules();
    SetEnvironmentVariableA("KELVORA_PKCS11_STANDIN", nullptr);
    DeleteFileA(description_path_.c_str());
    DeleteFileA(log_path_.c_str());
}

void standin_fixture::install(const description& tokens)
{
    tree root = tokens.root();
    root.put("log", log_path_);
    std::ofstream out(description_path_, std::ios::binary | std::ios::trunc);
    boost::property_tree::write_json(out, root, false);
}

std::vector<std::string> standin_fixture::log(const std::string& containing) const
{
    std::ifstream in(log_path_, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line))
        if (line.find(containing) != std::string::npos)
            lines.push_back(line);
    return lines;
}

void standin_fixture::unload_modules()
{
    crypto::pkcs11::pkcs11_module_registry().clear();
}

void standin_fixture::clear_log()
{
    std::ofstream(log_path_, std::ios::binary | std::ios::trunc);
}

test_certificate make_certificate(const std::string& algorithm, const std::string& subject)
{
    pkcs11_fixture::certificate_spec spec;
    spec.algorithm = algorithm;
    spec.subject = subject;
    const auto der = pkcs11_fixture::make_certificate(spec);
    return {der, pkcs11_fixture::thumbprint(der)};
}

bytes standin_signature(unsigned long mechanism, const std::string& key_id, const bytes& data)
{
    static const char label[] = "kelvora-pkcs11-standin";
    const std::size_t size = mechanism == 0xD4321006UL || mechanism == 0xD4321009UL ? 128 : 64;
    const std::uint8_t mechanism_bytes[4] = {
        static_cast<std::uint8_t>(mechanism >> 24), static_cast<std::uint8_t>(mechanism >> 16),
        static_cast<std::uint8_t>(mechanism >> 8), static_cast<std::uint8_t>(mechanism)};
    bytes signature;
    for (std::uint8_t block = 0; signature.size() < size; ++block) {
        crypto::sha256 digest;
        digest.init();
        digest.update(label, static_cast<std::uint32_t>(std::strlen(label)));
        digest.update(mechanism_bytes, 4);
        digest.update(&block, 1);
        digest.update(key_id.data(), static_cast<std::uint32_t>(key_id.size()));
        digest.update(data.data(), static_cast<std::uint32_t>(data.size()));
        const auto part = digest.final();
        signature.insert(signature.end(), part.begin(), part.end());
    }
    return signature;
}

bytes reversed(bytes value)
{
    std::reverse(value.begin(), value.end());
    return value;
}

bytes hash_of_size(std::size_t size, std::uint8_t first)
{
    bytes hash(size);
    for (std::size_t i = 0; i < size; ++i)
        hash[i] = static_cast<std::uint8_t>(first + i * 7);
    return hash;
}

}  // namespace pkcs11_test
