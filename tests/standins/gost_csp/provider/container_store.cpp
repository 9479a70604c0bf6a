#include "container_store.h"

#include <windows.h>

#include <sstream>
#include <stdexcept>

#include "common/gost_standin.h"

namespace gost_standin {

stored_key* container_record::key(std::uint32_t spec)
{
    for (auto& k : keys)
        if (k.spec == spec) return &k;
    return nullptr;
}

const stored_key* container_record::key(std::uint32_t spec) const
{
    for (const auto& k : keys)
        if (k.spec == spec) return &k;
    return nullptr;
}

container_record* find_container(container_list& containers, const std::string& name)
{
    for (auto& c : containers)
        if (c.name == name) return &c;
    return nullptr;
}

namespace {

const char hex_digits[] = "0123456789abcdef";

std::string to_hex(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return "-";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        out += hex_digits[data[i] >> 4];
        out += hex_digits[data[i] & 15];
    }
    return out;
}
std::string to_hex(const std::vector<std::uint8_t>& v) { return to_hex(v.data(), v.size()); }
std::string to_hex(const std::string& s) { return to_hex(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()); }

int nibble(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    throw std::runtime_error("container state: bad hex digit");
}

std::vector<std::uint8_t> from_hex(const std::string& text)
{
    if (text == "-") return {};
    if (text.size() % 2) throw std::runtime_error("container state: odd hex length");
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < text.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(nibble(text[i]) * 16 + nibble(text[i + 1])));
    return out;
}

std::string text_from_hex(const std::string& text)
{
    const auto raw = from_hex(text);
    return std::string(raw.begin(), raw.end());
}

std::wstring state_path()
{
    wchar_t buffer[1024];
    const DWORD n = GetEnvironmentVariableW(L"KELVORA_GOST_CSP_STATE", buffer, 1024);
    if (n > 0 && n < 1024) return std::wstring(buffer, n);
    return default_state_path;
}

void make_parent_directories(const std::wstring& path)
{
    for (std::size_t i = 3; i < path.size(); ++i) {
        if (path[i] == L'\\' || path[i] == L'/') CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
    }
}

class file_lock {
public:
    explicit file_lock(const std::wstring& path)
    {
        make_parent_directories(path);
        for (int attempt = 0; attempt < 3000; ++attempt) {
            handle_ = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
            if (handle_ != INVALID_HANDLE_VALUE) return;
            Sleep(10);
        }
        throw std::runtime_error("container state: lock file stays busy");
    }
    ~file_lock() { CloseHandle(handle_); }
    file_lock(const file_lock&) = delete;
    file_lock& operator=(const file_lock&) = delete;

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

void write_all(const std::wstring& path, const std::string& text)
{
    const std::wstring temporary = path + L".new";
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("container state: cannot write");
    DWORD written = 0;
    const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    if (!ok || written != text.size()) throw std::runtime_error("container state: short write");
    if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
        throw std::runtime_error("container state: cannot replace");
}

}  // namespace

std::string read_file_text(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
    CloseHandle(file);
    return text;
}

std::string container_store::serialize(const container_list& containers)
{
    std::string out = "# kelvora GOST stand-in containers, one per line: name reader pin keys (hex)\n";
    for (const auto& c : containers) {
        out += "container " + to_hex(c.name) + " " + to_hex(c.reader) + " " + to_hex(c.pin);
        for (const auto& k : c.keys) {
            out += " " + std::to_string(k.spec) + ":" + std::to_string(k.alg) + ":" + to_hex(k.private_key) + ":" +
                   to_hex(k.certificate);
            if (!k.exported_blob.empty()) out += ":" + to_hex(k.exported_blob);
        }
        out += "\n";
    }
    return out;
}

container_list container_store::parse(const std::string& text)
{
    container_list out;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        std::string tag, name, reader, pin;
        if (!(words >> tag >> name >> reader >> pin) || tag != "container")
            throw std::runtime_error("container state: bad line");
        container_record record;
        record.name = text_from_hex(name);
        record.reader = text_from_hex(reader);
        record.pin = text_from_hex(pin);
        std::string key_text;
        while (words >> key_text) {
            std::istringstream fields(key_text);
            stored_key key;
            std::string spec, alg, priv, cert, blob;
            if (!std::getline(fields, spec, ':') || !std::getline(fields, alg, ':') ||
                !std::getline(fields, priv, ':') || !std::getline(fields, cert, ':'))
                throw std::runtime_error("container state: bad key");
            if (std::getline(fields, blob)) key.exported_blob = from_hex(blob);
            key.spec = static_cast<std::uint32_t>(std::stoul(spec));
            key.alg = static_cast<std::uint32_t>(std::stoul(alg));
            key.private_key = from_hex(priv);
            key.certificate = from_hex(cert);
            record.keys.push_back(key);
        }
        out.push_back(record);
    }
    return out;
}

container_list container_store::load()
{
    const std::wstring path = state_path();
    file_lock lock(path + L".lock");
    return parse(read_file_text(path));
}

void container_store::update(const std::function<bool(container_list&)>& change)
{
    const std::wstring path = state_path();
    file_lock lock(path + L".lock");
    container_list containers = parse(read_file_text(path));
    if (change(containers)) write_all(path, serialize(containers));
}

}  // namespace gost_standin
