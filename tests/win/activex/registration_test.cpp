// Registration per machine: what DllRegisterServer writes and
// DllUnregisterServer removes, and the type library it registers.
#include "control_support.h"

#include "activex/identifiers.h"

namespace ax_test {
namespace {

// The identifiers pages and installers know the control by, written out here
// rather than taken from the generated header.
const std::wstring clsid = L"{4017F20F-0E0B-4713-B6D3-4B0AA0F1003F}";
const std::wstring iid = L"{009F16C6-D934-43F1-8D4D-589B9B3AC24B}";
const std::wstring libid = L"{01C6D14D-9288-494F-9F8D-88FE70415076}";
const std::wstring appid = L"{05D36373-F196-4FB6-9BA4-B56A2E01B0D9}";

registry_tree expected_class_key()
{
    return {
        {L"|", L"Kelvora browser plugin"},
        {L"ProgID|", L"kelvora.plugin.1"},
        {L"VersionIndependentProgID|", L"kelvora.plugin"},
        {L"Programmable|", L"<key>"},
        {L"InprocServer32|", control_library::get().path()},
        {L"InprocServer32|ThreadingModel", L"Apartment"},
        {L"TypeLib|", libid},
        {L"Version|", L"1.0"},
    };
}

registry_tree expected_versioned_progid() { return {{L"|", L"Kelvora browser plugin"}, {L"CLSID|", clsid}}; }

registry_tree expected_progid()
{
    return {{L"|", L"Kelvora browser plugin"}, {L"CLSID|", clsid}, {L"CurVer|", L"kelvora.plugin.1"}};
}

bool holds_text(const registry_tree& tree, const std::wstring& text)
{
    for (const auto& entry : tree)
        if (entry.first.find(text) != std::wstring::npos || entry.second.find(text) != std::wstring::npos)
            return true;
    return false;
}

// Registers again when a test that unregisters ends, however it ends.
struct registration_restorer {
    ~registration_restorer() { control_library::get().register_server(); }
};

using Registration = RegisteredControl;

TEST_F(Registration, WritesExactlyTheClassScriptAndNoAppId)
{
    EXPECT_EQ(read_registry_tree(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid), expected_class_key());
    EXPECT_EQ(read_registry_tree(HKEY_CLASSES_ROOT, L"kelvora.plugin.1"), expected_versioned_progid());
    EXPECT_EQ(read_registry_tree(HKEY_CLASSES_ROOT, L"kelvora.plugin"), expected_progid());

    // The AppID is offered to the scripts but written nowhere.
    EXPECT_EQ(std::wstring(activex::appid_text), appid);
    EXPECT_FALSE(key_exists(HKEY_CLASSES_ROOT, L"AppID\\" + appid));
    for (const std::wstring& key : {L"CLSID\\" + clsid, std::wstring(L"kelvora.plugin"), std::wstring(L"kelvora.plugin.1")}) {
        const auto tree = read_registry_tree(HKEY_CLASSES_ROOT, key);
        ASSERT_TRUE(tree);
        EXPECT_FALSE(holds_text(*tree, appid));
        EXPECT_FALSE(holds_text(*tree, L"AppID"));
    }
}

TEST_F(Registration, TheCompiledIdentifiersAreThePublishedOnes)
{
    EXPECT_EQ(guid_text(CLSID_Plugin), clsid);
    EXPECT_EQ(guid_text(IID_IPlugin), iid);
    EXPECT_EQ(guid_text(LIBID_ActiveXLib), libid);
    // The dual interface is registered with its type library.
    const auto interface_library = read_registry_tree(HKEY_CLASSES_ROOT, L"Interface\\" + iid + L"\\TypeLib");
    ASSERT_TRUE(interface_library);
    EXPECT_EQ(interface_library->count(L"|") ? interface_library->at(L"|") : L"", libid);
}

TEST_F(Registration, RegistersTheTypeLibraryFromTheModule)
{
    com_ptr<ITypeLib> library;
    ASSERT_EQ(LoadRegTypeLib(LIBID_ActiveXLib, 1, 0, LOCALE_NEUTRAL, library.put()), S_OK);
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->wMajorVerNum, 1);
    EXPECT_EQ(attributes->wMinorVerNum, 0);
    EXPECT_EQ(attributes->lcid, 0u);
    library->ReleaseTLibAttr(attributes);

    unique_bstr name, help_string, help_file;
    ASSERT_EQ(library->GetDocumentation(-1, name.put(), help_string.put(), nullptr, help_file.put()), S_OK);
    EXPECT_EQ(bstr_text(name.get()), L"ActiveXLib");
    EXPECT_EQ(help_string.get(), nullptr);
    EXPECT_EQ(help_file.get(), nullptr);

    unique_bstr path;
    ASSERT_EQ(QueryPathOfRegTypeLib(LIBID_ActiveXLib, 1, 0, LOCALE_NEUTRAL, path.put()), S_OK);
    EXPECT_EQ(_wcsicmp(bstr_text(path.get()).c_str(), control_library::get().path().c_str()), 0);

    // coclass Plugin: creatable, IPlugin as its default interface.
    com_ptr<ITypeInfo> coclass;
    ASSERT_EQ(library->GetTypeInfoOfGuid(CLSID_Plugin, coclass.put()), S_OK);
    TYPEATTR* type = nullptr;
    ASSERT_EQ(coclass->GetTypeAttr(&type), S_OK);
    EXPECT_EQ(type->typekind, TKIND_COCLASS);
    EXPECT_TRUE(type->wTypeFlags & TYPEFLAG_FCANCREATE);
    EXPECT_EQ(type->cImplTypes, 1);
    coclass->ReleaseTypeAttr(type);
    INT flags = 0;
    ASSERT_EQ(coclass->GetImplTypeFlags(0, &flags), S_OK);
    EXPECT_TRUE(flags & IMPLTYPEFLAG_FDEFAULT);
    HREFTYPE reference = 0;
    ASSERT_EQ(coclass->GetRefTypeOfImplType(0, &reference), S_OK);
    com_ptr<ITypeInfo> default_interface;
    ASSERT_EQ(coclass->GetRefTypeInfo(reference, default_interface.put()), S_OK);
    ASSERT_EQ(default_interface->GetTypeAttr(&type), S_OK);
    EXPECT_TRUE(IsEqualGUID(type->guid, IID_IPlugin));
    default_interface->ReleaseTypeAttr(type);
}

TEST_F(Registration, UnregistrationRemovesWhatItWroteAndKeepsTheClsidRoot)
{
    const registration_restorer restore;
    // A foreign class beside ours must survive.
    const std::wstring foreign = L"CLSID\\{6E0C5A43-5B0B-4A57-9E1C-2D4B7C1E0F11}";
    activex::registry_key created;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, foreign.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, created.put(),
                              nullptr),
              ERROR_SUCCESS);

    ASSERT_EQ(control_library::get().unregister_server(), S_OK);
    EXPECT_FALSE(key_exists(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid));
    EXPECT_FALSE(key_exists(HKEY_CLASSES_ROOT, L"kelvora.plugin"));
    EXPECT_FALSE(key_exists(HKEY_CLASSES_ROOT, L"kelvora.plugin.1"));
    EXPECT_TRUE(key_exists(HKEY_CLASSES_ROOT, L"CLSID"));
    EXPECT_TRUE(key_exists(HKEY_CLASSES_ROOT, foreign));
    com_ptr<ITypeLib> library;
    EXPECT_NE(LoadRegTypeLib(LIBID_ActiveXLib, 1, 0, LOCALE_NEUTRAL, library.put()), S_OK);

    // A stale key left under the class is swept away by the next registration.
    activex::registry_key stale;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (L"CLSID\\" + clsid + L"\\Stale").c_str(), 0, nullptr, 0, KEY_WRITE,
                              nullptr, stale.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(control_library::get().register_server(), S_OK);
    EXPECT_EQ(read_registry_tree(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid), expected_class_key());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, foreign.c_str());
}

TEST_F(Registration, RegistrationKeepsTheCallersThreadLocale)
{
    const LCID german = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);
    const LCID saved = GetThreadLocale();
    ASSERT_TRUE(SetThreadLocale(german));
    EXPECT_EQ(control_library::get().register_server(), S_OK);
    EXPECT_EQ(GetThreadLocale(), german);
    SetThreadLocale(saved);
}

TEST_F(Registration, AProgIdCreatesTheControlThroughCom)
{
    CLSID found;
    ASSERT_EQ(CLSIDFromProgID(L"kelvora.plugin", &found), S_OK);
    EXPECT_TRUE(IsEqualCLSID(found, CLSID_Plugin));
    ASSERT_EQ(CLSIDFromProgID(L"kelvora.plugin.1", &found), S_OK);
    EXPECT_TRUE(IsEqualCLSID(found, CLSID_Plugin));
    LPOLESTR progid = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(CLSID_Plugin, &progid), S_OK);
    EXPECT_STREQ(progid, versioned_progid);
    CoTaskMemFree(progid);
    EXPECT_TRUE(create_plugin());
}

// A copy of the control whose full path does not fit the 260-character path
// buffer cannot write its scripts.
TEST(RegistrationPath, APathThatFillsThePathBufferFailsRegistration)
{
    std::wstring folder = L"C:\\kelvora-long-path";
    CreateDirectoryW(folder.c_str(), nullptr);
    while (folder.size() < 250) {
        folder += L"\\" + std::wstring(40, L'd');
        CreateDirectoryW(folder.c_str(), nullptr);
    }
    const std::wstring copy = folder + L"\\kelvora_ax.dll";
    ASSERT_GE(copy.size(), static_cast<std::size_t>(MAX_PATH));
    ASSERT_TRUE(CopyFileW(control_library::get().path().c_str(), copy.c_str(), FALSE));
    const HMODULE module = LoadLibraryW(copy.c_str());
    if (!module)
        GTEST_SKIP() << "this system does not load a library from a path this long";
    const auto register_server = reinterpret_cast<HRESULT(WINAPI*)()>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllRegisterServer")));
    ASSERT_TRUE(register_server);
    EXPECT_EQ(register_server(), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    FreeLibrary(module);
    DeleteFileW(copy.c_str());
}

}  // namespace
}  // namespace ax_test
