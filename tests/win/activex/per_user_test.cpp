// Per-user registration through DllInstall. The mode stays on for the rest of
// the process once switched on, so these tests run in a process of their own
// (the test named PerUser*) and in this order.
#include "control_support.h"

namespace ax_test {
namespace {

const std::wstring class_key = L"CLSID\\{4017F20F-0E0B-4713-B6D3-4B0AA0F1003F}";
const std::wstring user_classes = L"Software\\Classes\\";
const std::wstring machine_classes = L"Software\\Classes\\";

bool registered_for_user() { return key_exists(HKEY_CURRENT_USER, user_classes + class_key); }
bool registered_for_machine() { return key_exists(HKEY_LOCAL_MACHINE, machine_classes + class_key); }

TEST(PerUser, OnlyTheWholeWordUserSwitchesTheModeAndItStaysOn)
{
    const control_library& control = control_library::get();
    ASSERT_FALSE(registered_for_user());
    ASSERT_FALSE(registered_for_machine());

    // One character more, or none at all, is not the switch: per machine.
    for (const wchar_t* command_line : {L"user ", L"users", L"", static_cast<const wchar_t*>(nullptr)}) {
        ASSERT_EQ(control.install(TRUE, command_line), S_OK);
        EXPECT_TRUE(registered_for_machine());
        EXPECT_FALSE(registered_for_user());
        ASSERT_EQ(control.install(FALSE, command_line), S_OK);
        EXPECT_FALSE(registered_for_machine());
    }

    // "USER" in any letter case: the class script goes under the user's classes.
    ASSERT_EQ(control.install(TRUE, L"USER"), S_OK);
    EXPECT_TRUE(registered_for_user());
    EXPECT_FALSE(registered_for_machine());
    EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, machine_classes + L"kelvora.plugin"));
    const auto tree = read_registry_tree(HKEY_CURRENT_USER, user_classes + class_key);
    ASSERT_TRUE(tree);
    EXPECT_EQ(tree->at(L"InprocServer32|"), control.path());
    EXPECT_EQ(tree->at(L"InprocServer32|ThreadingModel"), L"Apartment");
    EXPECT_EQ(read_registry_tree(HKEY_CURRENT_USER, user_classes + L"kelvora.plugin")->at(L"CurVer|"),
              L"kelvora.plugin.1");

    // The mode stays on: a later DllRegisterServer registers per user too.
    ASSERT_EQ(control.install(FALSE, L"user"), S_OK);
    EXPECT_FALSE(registered_for_user());
    ASSERT_EQ(control.register_server(), S_OK);
    EXPECT_TRUE(registered_for_user());
    EXPECT_FALSE(registered_for_machine());

    // And unregistration, whatever its command line, works on the user's keys.
    ASSERT_EQ(control.install(FALSE, nullptr), S_OK);
    EXPECT_FALSE(registered_for_user());
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, user_classes + L"kelvora.plugin"));
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, user_classes + L"kelvora.plugin.1"));
    EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, user_classes + L"CLSID"));
}

}  // namespace
}  // namespace ax_test
