#include "activex/registry_script.h"

#include <cwchar>
#include <cwctype>
#include <new>
#include <optional>

#include "activex/com_handles.h"

namespace activex {
namespace {

const HRESULT malformed = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

bool same_text(const std::wstring& a, const wchar_t* b) { return _wcsicmp(a.c_str(), b) == 0; }

// ---------------------------------------------------------------- the script

struct script_value {
    DWORD type = REG_SZ;
    std::vector<BYTE> data;
};

enum class key_flag { none, no_remove, force_remove, remove };

struct script_key {
    std::wstring name;
    key_flag flag = key_flag::none;
    std::optional<script_value> default_value;
    std::vector<std::pair<std::wstring, script_value>> values;
    std::vector<script_key> subkeys;
};

struct script_root {
    HKEY key = nullptr;
    std::vector<script_key> keys;
    std::vector<std::pair<std::wstring, script_value>> values;
};

// ---------------------------------------------------------------- reading

struct token {
    std::wstring text;
    bool quoted = false;
    bool is(const wchar_t* word) const { return !quoted && same_text(text, word); }
};

class script_reader {
public:
    explicit script_reader(const std::wstring& text) : position_(text.c_str()) {}

    std::vector<script_root> read_script()
    {
        std::vector<script_root> roots;
        while (std::optional<token> name = next()) {
            script_root root;
            root.key = root_key(*name);
            expect_open();
            read_body(root.keys, root.values);
            roots.push_back(std::move(root));
        }
        return roots;
    }

private:
    static HKEY root_key(const token& name)
    {
        if (name.is(L"HKCR") || name.is(L"HKEY_CLASSES_ROOT")) return HKEY_CLASSES_ROOT;
        if (name.is(L"HKCU") || name.is(L"HKEY_CURRENT_USER")) return HKEY_CURRENT_USER;
        if (name.is(L"HKLM") || name.is(L"HKEY_LOCAL_MACHINE")) return HKEY_LOCAL_MACHINE;
        if (name.is(L"HKU") || name.is(L"HKEY_USERS")) return HKEY_USERS;
        throw script_error(malformed);
    }

    // Reads the entries of a body up to and including its closing brace.
    void read_body(std::vector<script_key>& keys, std::vector<std::pair<std::wstring, script_value>>& values)
    {
        for (;;) {
            token word = required();
            if (word.is(L"}"))
                return;
            if (word.is(L"{"))
                throw script_error(malformed);
            if (word.is(L"val")) {
                std::wstring name = required().text;
                expect_equals(required());
                values.emplace_back(std::move(name), read_value());
                continue;
            }
            script_key key;
            if (word.is(L"NoRemove")) key.flag = key_flag::no_remove;
            else if (word.is(L"ForceRemove")) key.flag = key_flag::force_remove;
            else if (word.is(L"Delete")) key.flag = key_flag::remove;
            if (key.flag != key_flag::none)
                word = required();
            if (!word.quoted && (word.is(L"{") || word.is(L"}") || word.is(L"=")))
                throw script_error(malformed);
            key.name = std::move(word.text);
            if (peek_is(L"=")) {
                next();
                key.default_value = read_value();
            }
            if (peek_is(L"{")) {
                next();
                read_body(key.subkeys, key.values);
            }
            keys.push_back(std::move(key));
        }
    }

    script_value read_value()
    {
        const token type = required();
        const token text = required();
        script_value value;
        if (type.is(L"s") || type.is(L"e")) {
            value.type = type.is(L"s") ? REG_SZ : REG_EXPAND_SZ;
            const auto* bytes = reinterpret_cast<const BYTE*>(text.text.c_str());
            value.data.assign(bytes, bytes + (text.text.size() + 1) * sizeof(wchar_t));
        } else if (type.is(L"d")) {
            wchar_t* end = nullptr;
            const DWORD number = static_cast<DWORD>(std::wcstoul(text.text.c_str(), &end, 0));
            if (text.text.empty() || *end != L'\0')
                throw script_error(malformed);
            value.type = REG_DWORD;
            const auto* bytes = reinterpret_cast<const BYTE*>(&number);
            value.data.assign(bytes, bytes + sizeof number);
        } else if (type.is(L"b")) {
            value.type = REG_BINARY;
            if (text.text.size() % 2 != 0)
                throw script_error(malformed);
            for (std::size_t i = 0; i < text.text.size(); i += 2)
                value.data.push_back(static_cast<BYTE>(hex_digit(text.text[i]) << 4 | hex_digit(text.text[i + 1])));
        } else {
            throw script_error(malformed);
        }
        return value;
    }

    static int hex_digit(wchar_t c)
    {
        if (c >= L'0' && c <= L'9') return c - L'0';
        if (c >= L'a' && c <= L'f') return c - L'a' + 10;
        if (c >= L'A' && c <= L'F') return c - L'A' + 10;
        throw script_error(malformed);
    }

    void expect_open()
    {
        if (!required().is(L"{"))
            throw script_error(malformed);
    }

    static void expect_equals(const token& word)
    {
        if (!word.is(L"="))
            throw script_error(malformed);
    }

    bool peek_is(const wchar_t* word)
    {
        if (!lookahead_)
            lookahead_ = scan();
        return *lookahead_ && (*lookahead_)->is(word);
    }

    token required()
    {
        std::optional<token> word = next();
        if (!word)
            throw script_error(malformed);
        return std::move(*word);
    }

    std::optional<token> next()
    {
        if (lookahead_) {
            std::optional<token> word = std::move(*lookahead_);
            lookahead_.reset();
            return word;
        }
        return scan();
    }

    // The next white-space-separated token, or none at the end of the text.
    std::optional<token> scan()
    {
        while (*position_ && std::iswspace(*position_))
            position_ = CharNextW(position_);
        if (!*position_)
            return std::nullopt;
        token word;
        if (*position_ == L'\'') {
            word.quoted = true;
            position_ = CharNextW(position_);
            for (;;) {
                if (!*position_)
                    throw script_error(malformed);
                if (*position_ == L'\'') {
                    position_ = CharNextW(position_);
                    if (*position_ != L'\'')
                        break;
                }
                const wchar_t* after = CharNextW(position_);
                word.text.append(position_, after);
                position_ = after;
            }
            return word;
        }
        while (*position_ && !std::iswspace(*position_)) {
            const wchar_t* after = CharNextW(position_);
            word.text.append(position_, after);
            position_ = after;
        }
        return word;
    }

    const wchar_t* position_;
    std::optional<std::optional<token>> lookahead_;
};

// ---------------------------------------------------------------- running

HRESULT win32_failure(LONG status) { return HRESULT_FROM_WIN32(static_cast<DWORD>(status)); }

void check(LONG status)
{
    if (status != ERROR_SUCCESS)
        throw script_error(win32_failure(status));
}

bool missing(LONG status) { return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND; }

// Deletes a key with all its subkeys; a missing key is no failure.
void delete_tree(HKEY parent, const std::wstring& name)
{
    const LONG status = RegDeleteTreeW(parent, name.c_str());
    if (!missing(status))
        check(status);
}

void set_value(HKEY key, const wchar_t* name, const script_value& value)
{
    check(RegSetValueExW(key, name, 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size())));
}

class script_runner {
public:
    script_runner(script_mode mode, bool per_user) : mode_(mode), per_user_(per_user) {}

    void run(const script_root& root)
    {
        registry_key redirected;
        HKEY key = root.key;
        if (per_user_ && key == HKEY_CLASSES_ROOT) {
            const LONG status =
                mode_ == script_mode::register_keys
                    ? RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0,
                                      KEY_READ | KEY_WRITE, nullptr, redirected.put(), nullptr)
                    : RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, KEY_READ | KEY_WRITE,
                                    redirected.put());
            if (mode_ == script_mode::unregister_keys && missing(status))
                return;
            check(status);
            key = redirected.get();
        }
        run_body(key, root.keys, root.values);
    }

private:
    void run_body(HKEY parent, const std::vector<script_key>& keys,
                  const std::vector<std::pair<std::wstring, script_value>>& values)
    {
        for (const auto& value : values) {
            if (mode_ == script_mode::register_keys) {
                set_value(parent, value.first.c_str(), value.second);
            } else {
                const LONG status = RegDeleteValueW(parent, value.first.c_str());
                if (!missing(status))
                    check(status);
            }
        }
        for (const script_key& key : keys) {
            if (mode_ == script_mode::register_keys)
                register_key(parent, key);
            else
                unregister_key(parent, key);
        }
    }

    void register_key(HKEY parent, const script_key& key)
    {
        if (key.flag == key_flag::remove) {
            delete_tree(parent, key.name);
            return;
        }
        if (key.flag == key_flag::force_remove)
            delete_tree(parent, key.name);
        registry_key opened;
        check(RegCreateKeyExW(parent, key.name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                              opened.put(), nullptr));
        if (key.default_value)
            set_value(opened.get(), nullptr, *key.default_value);
        run_body(opened.get(), key.subkeys, key.values);
    }

    void unregister_key(HKEY parent, const script_key& key)
    {
        if (key.flag == key_flag::remove)
            return;
        if (key.flag == key_flag::force_remove) {
            delete_tree(parent, key.name);
            return;
        }
        registry_key opened;
        const LONG status = RegOpenKeyExW(parent, key.name.c_str(), 0, KEY_READ | KEY_WRITE, opened.put());
        if (missing(status))
            return;
        check(status);
        run_body(opened.get(), key.subkeys, key.values);
        if (key.flag == key_flag::no_remove)
            return;
        DWORD subkeys = 0;
        check(RegQueryInfoKeyW(opened.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr));
        opened = registry_key();
        if (subkeys == 0) {
            const LONG deleted = RegDeleteKeyW(parent, key.name.c_str());
            if (!missing(deleted))
                check(deleted);
        }
    }

    script_mode mode_;
    bool per_user_;
};

}  // namespace

std::wstring expand_replacements(const std::wstring& script, const script_replacements& replacements)
{
    std::wstring out;
    out.reserve(script.size());
    std::size_t i = 0;
    while (i < script.size()) {
        const wchar_t c = script[i];
        if (c != L'%') {
            out.push_back(c);
            ++i;
            continue;
        }
        const std::size_t close = script.find(L'%', i + 1);
        if (close == std::wstring::npos)
            throw script_error(malformed);
        const std::wstring name = script.substr(i + 1, close - i - 1);
        if (name.empty()) {
            out.push_back(L'%');
        } else {
            const std::wstring* value = nullptr;
            for (const auto& replacement : replacements)
                if (same_text(replacement.first, name.c_str()))
                    value = &replacement.second;
            if (!value)
                throw script_error(malformed);
            out += *value;
        }
        i = close + 1;
    }
    return out;
}

HRESULT run_registry_script(const std::wstring& script, const script_replacements& replacements,
                            script_mode mode, bool per_user)
{
    try {
        // The whole script is read before anything is written.
        const std::vector<script_root> roots = script_reader(expand_replacements(script, replacements)).read_script();
        script_runner runner(mode, per_user);
        for (const script_root& root : roots)
            runner.run(root);
        return S_OK;
    } catch (const script_error& error) {
        return error.code();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace activex
