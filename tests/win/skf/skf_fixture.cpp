#include "skf_fixture.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "crypto/encoding/base64.h"
#include "crypto/encoding/hex.h"
#include "crypto/sha2/sha256.h"
#include "crypto/skf/library_path.h"

namespace skf_test {
namespace {

constexpr const char* description_variable = "KELVORA_SKF_STANDIN";

std::string beside_program(const char* name)
{
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text(path, length);
    return text.substr(0, text.find_last_of('\\') + 1) + name;
}

std::string temp_file(const char* kind)
{
    static std::atomic<int> counter{0};
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + "kelvora-skf-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(counter++) + "." + kind;
}

void make_folders(const std::string& file)
{
    for (std::size_t at = file.find('\\', 3); at != std::string::npos; at = file.find('\\', at + 1))
        CreateDirectoryA(file.substr(0, at).c_str(), nullptr);
}

std::vector<std::string> split(const std::string& line, char separator)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(line);
    while (std::getline(in, part, separator))
        parts.push_back(part);
    return parts;
}

}  // namespace

void install_library(const char* dll_name)
{
    const std::string target = crypto::skf::library_path;
    make_folders(target);
    if (!CopyFileA(beside_program(dll_name).c_str(), target.c_str(), FALSE))
        throw std::runtime_error("cannot install " + std::string(dll_name) + ": " + std::to_string(GetLastError()));
}

void remove_library()
{
    DeleteFileA(crypto::skf::library_path);
}

bool library_loaded()
{
    return GetModuleHandleA(crypto::skf::library_path) != nullptr;
}

devices::devices(const std::string& text) : description_path_(temp_file("txt")), log_path_(temp_file("log"))
{
    std::ofstream out(description_path_, std::ios::binary);
    out << "log " << log_path_ << "\n" << text;
    out.close();
    SetEnvironmentVariableA(description_variable, description_path_.c_str());
}

devices::~devices()
{
    SetEnvironmentVariableA(description_variable, nullptr);
    DeleteFileA(description_path_.c_str());
    DeleteFileA(log_path_.c_str());
}

std::vector<std::vector<std::string>> devices::log() const
{
    std::vector<std::vector<std::string>> lines;
    std::ifstream in(log_path_, std::ios::binary);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(split(line, '\t'));
    return lines;
}

std::vector<std::string> devices::calls() const
{
    std::vector<std::string> names;
    for (const auto& line : log())
        names.push_back(line.empty() ? std::string() : line[0]);
    return names;
}

void devices::clear_log() const
{
    DeleteFileA(log_path_.c_str());
}

certificate make_certificate(const std::wstring& subject, const char* signature_oid, bool placeholder_signature)
{
    csp_test::certificate_spec spec;
    spec.container = L"kelvora-skf-test";
    spec.subject = subject;
    spec.signature_oid = signature_oid;
    spec.placeholder_signature = placeholder_signature;
    spec.add_to_store = false;
    const auto made = csp_test::make_certificate(spec);
    return {made.thumbprint, crypto::byte_vector(made.der.begin(), made.der.end())};
}

std::string certificate_line(const certificate& made)
{
    return "certificate " + crypto::base64_encode(made.der) + "\n";
}

crypto::byte_vector signed_data(const std::string& container_path, const crypto::byte_vector& signature)
{
    crypto::byte_vector block(signature.rbegin(), signature.rend());
    crypto::sha256 hash;
    for (std::size_t at = 0; at < block.size(); at += 32) {
        const auto counter = static_cast<std::uint32_t>(at / 32);
        const std::uint8_t be[4] = {static_cast<std::uint8_t>(counter >> 24), static_cast<std::uint8_t>(counter >> 16),
                                    static_cast<std::uint8_t>(counter >> 8), static_cast<std::uint8_t>(counter)};
        hash.init();
        hash.update(container_path.data(), static_cast<std::uint32_t>(container_path.size()));
        hash.update(be, 4);
        const auto stream = hash.final();
        for (std::size_t i = 0; i < 32 && at + i < block.size(); ++i)
            block[at + i] ^= stream[i];
    }
    if (block.size() < 11 || block[0] != 0x00 || block[1] != 0x01)
        return {};
    std::size_t at = 2;
    while (at < block.size() && block[at] == 0xFF)
        ++at;
    if (at < 10 || at >= block.size() || block[at] != 0x00)
        return {};
    return crypto::byte_vector(block.begin() + static_cast<std::ptrdiff_t>(at + 1), block.end());
}

crypto::byte_vector digest_info_prefix(int hash_size)
{
    switch (hash_size) {
    case 32:
        return bytes_of("3031300d060960864801650304020105000420");
    case 48:
        return bytes_of("3041300d060960864801650304020205000430");
    case 64:
        return bytes_of("3051300d060960864801650304020305000440");
    default:
        return {};
    }
}

crypto::byte_vector bytes_of(const std::string& hex)
{
    return crypto::hex_decode(hex.c_str());
}

}  // namespace skf_test
