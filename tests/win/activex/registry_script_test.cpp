// The registry-script runner on a scratch key of the current user.
#include "control_support.h"

#include <vector>

#include "activex/registry_script.h"

namespace ax_test {
namespace {

using activex::run_registry_script;
using activex::script_mode;

const std::wstring scratch = L"Software\\KelvoraScriptTest";

class RegistryScript : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, scratch.c_str()); }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, scratch.c_str()); }

    static HRESULT run(const std::wstring& body, script_mode mode, const activex::script_replacements& replacements = {})
    {
        return run_registry_script(L"HKCU\n{\n NoRemove Software\n {\n" + body + L"\n }\n}\n", replacements, mode,
                                   false);
    }

    static registry_tree tree() { return read_registry_tree(HKEY_CURRENT_USER, scratch).value_or(registry_tree()); }

    static std::vector<BYTE> raw_value(const std::wstring& key, const wchar_t* name, DWORD& type)
    {
        std::vector<BYTE> data(64);
        DWORD size = static_cast<DWORD>(data.size());
        activex::registry_key opened;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, (scratch + key).c_str(), 0, KEY_READ, opened.put()) != ERROR_SUCCESS ||
            RegQueryValueExW(opened.get(), name, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
            return {};
        data.resize(size);
        return data;
    }
};

const wchar_t* const sample = LR"(
    KelvoraScriptTest = s 'root text'
    {
        'Key With Blanks' = s 'it''s quoted'
        Numbers
        {
            val Decimal = d '42'
            val Hex = d '0x1F'
            val Bytes = b '00FFa0'
            val Expand = e '%%SystemRoot%%\x'
        }
        Path = s '%PATH_TEXT%'
    })";

TEST_F(RegistryScript, RegisterWritesKeysAndTypedValues)
{
    ASSERT_EQ(run(sample, script_mode::register_keys, {{L"path_text", L"C:\\a b"}}), S_OK);
    EXPECT_EQ(tree(), (registry_tree{{L"|", L"root text"},
                                     {L"Key With Blanks|", L"it's quoted"},
                                     {L"Numbers|Decimal", L"<non-string>"},
                                     {L"Numbers|Hex", L"<non-string>"},
                                     {L"Numbers|Bytes", L"<non-string>"},
                                     {L"Numbers|Expand", L"<non-string>"},
                                     {L"Path|", L"C:\\a b"}}));
    DWORD type = 0;
    EXPECT_EQ(raw_value(L"\\Numbers", L"Decimal", type), (std::vector<BYTE>{42, 0, 0, 0}));
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(raw_value(L"\\Numbers", L"Hex", type), (std::vector<BYTE>{0x1F, 0, 0, 0}));
    EXPECT_EQ(raw_value(L"\\Numbers", L"Bytes", type), (std::vector<BYTE>{0x00, 0xFF, 0xA0}));
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    const std::vector<BYTE> expand = raw_value(L"\\Numbers", L"Expand", type);
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(expand.data())), L"%SystemRoot%\\x");
}

TEST_F(RegistryScript, UnregisterRemovesValuesAndEmptiedKeysButNotForeignOnes)
{
    ASSERT_EQ(run(sample, script_mode::register_keys, {{L"PATH_TEXT", L"p"}}), S_OK);
    // Something the script does not name, under a key it would remove.
    activex::registry_key foreign;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (scratch + L"\\Numbers\\Foreign").c_str(), 0, nullptr, 0, KEY_WRITE,
                              nullptr, foreign.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(run(sample, script_mode::unregister_keys, {{L"PATH_TEXT", L"p"}}), S_OK);
    // Numbers lost its values but keeps the foreign subkey, so it and the root stay.
    const registry_tree left{{L"|", L"root text"}, {L"Numbers|", L"<key>"}, {L"Numbers\\Foreign|", L"<key>"}};
    EXPECT_EQ(tree(), left);
    // Running it again changes nothing and does not fail on what is gone.
    EXPECT_EQ(run(sample, script_mode::unregister_keys, {{L"PATH_TEXT", L"p"}}), S_OK);
    EXPECT_EQ(tree(), left);
}

TEST_F(RegistryScript, ForceRemoveNoRemoveAndDelete)
{
    const std::wstring script = LR"(
        NoRemove KelvoraScriptTest
        {
            ForceRemove Fresh = s 'new'
            {
                Child = s 'c'
            }
            Delete Obsolete
            Kept = s 'k'
        })";
    activex::registry_key key;
    for (const wchar_t* stale : {L"\\Fresh\\Stale", L"\\Obsolete\\Deep"})
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (scratch + stale).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                  key.put(), nullptr),
                  ERROR_SUCCESS);
    key = activex::registry_key();

    ASSERT_EQ(run(script, script_mode::register_keys), S_OK);
    EXPECT_EQ(tree(), (registry_tree{{L"|", L"<key>"}, {L"Fresh|", L"new"}, {L"Fresh\\Child|", L"c"},
                                     {L"Kept|", L"k"}}));

    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (scratch + L"\\Fresh\\Added").c_str(), 0, nullptr, 0, KEY_WRITE,
                              nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    key = activex::registry_key();
    ASSERT_EQ(run(script, script_mode::unregister_keys), S_OK);
    // ForceRemove takes its subkeys along; NoRemove keeps the emptied key itself.
    EXPECT_EQ(tree(), (registry_tree{{L"|", L"<key>"}}));
}

TEST_F(RegistryScript, ABrokenScriptChangesNothing)
{
    const std::vector<std::wstring> broken = {
        L"KelvoraScriptTest = s 'x' { Unclosed = s 'y' ",
        L"KelvoraScriptTest = s 'unterminated }",
        L"KelvoraScriptTest = q 'unknown type'",
        L"KelvoraScriptTest = d 'twelve'",
        L"KelvoraScriptTest = b 'ABC'",
        L"KelvoraScriptTest { val NoEquals s 'x' }",
        L"KelvoraScriptTest = s '%NOT_GIVEN%'",
        L"KelvoraScriptTest = s '%UNCLOSED'",
    };
    for (const std::wstring& body : broken) {
        EXPECT_EQ(run(body, script_mode::register_keys), HRESULT_FROM_WIN32(ERROR_INVALID_DATA)) << body.c_str();
        EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, scratch));
    }
    EXPECT_EQ(run_registry_script(L"HKXX { }", {}, script_mode::register_keys, false),
              HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    // An empty body is a script that writes nothing.
    EXPECT_EQ(run_registry_script(L"HKCR\r\n{\r\n}\r\n", {}, script_mode::register_keys, false), S_OK);
}

TEST_F(RegistryScript, PerUserTakesClassesRootKeysFromTheUsersClasses)
{
    const std::wstring script = L"HKCR { KelvoraScriptTest = s 'mine' }";
    ASSERT_EQ(run_registry_script(script, {}, script_mode::register_keys, true), S_OK);
    EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, L"Software\\Classes\\KelvoraScriptTest"));
    EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\KelvoraScriptTest"));
    ASSERT_EQ(run_registry_script(script, {}, script_mode::unregister_keys, true), S_OK);
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, L"Software\\Classes\\KelvoraScriptTest"));
}

TEST(ScriptReplacements, ReplaceNamesWithoutRegardToCaseAndKeepDoublePercent)
{
    EXPECT_EQ(activex::expand_replacements(L"a %Module% b %% c %MODULE%", {{L"MODULE", L"x"}}), L"a x b % c x");
    EXPECT_THROW(activex::expand_replacements(L"%OTHER%", {{L"MODULE", L"x"}}), activex::script_error);
}

}  // namespace
}  // namespace ax_test
