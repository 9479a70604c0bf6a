// Loading modules, the loaded-module registry, slot lists and mechanisms,
// against the stand-in module under its three names.
#include <windows.h>

#include <algorithm>
#include <set>

#include "crypto/pkcs11/connector.h"
#include "crypto/pkcs11/exception.h"
#include "crypto/pkcs11/module_registry.h"
#include "crypto/pkcs11/slot.h"
#include "standin_support.h"

namespace pkcs11_test {
namespace {

using crypto::pkcs11::connector;

std::vector<CK_SLOT_ID> ids_of(const std::vector<crypto::pkcs11::slot>& slots)
{
    std::vector<CK_SLOT_ID> ids;
    for (const auto& s : slots)
        ids.push_back(s.id());
    return ids;
}

std::set<std::string> registered_families()
{
    std::set<std::string> families;
    for (const auto& entry : crypto::pkcs11::pkcs11_module_registry())
        families.insert(entry.first);
    return families;
}

bool module_loaded(const char* name)
{
    return GetModuleHandleA(name) != nullptr;
}

class Connector : public standin_fixture {};

TEST_F(Connector, LoadsAModuleByBareFileNameAndInitialisesItWithoutArguments)
{
    const connector module(rutoken);
    ASSERT_TRUE(module);
    EXPECT_TRUE(module.functions()->C_GetSlotList);
    EXPECT_EQ(log(), (std::vector<std::string>{"rtPKCS11ECP.dll C_GetFunctionList",
                                               "rtPKCS11ECP.dll C_Initialize args=null",
                                               "rtPKCS11ECP.dll C_Initialize loaded slots=0"}));
}

TEST_F(Connector, AModuleThatDoesNotLoadOrInitialiseGivesAnEmptyConnector)
{
    EXPECT_FALSE(connector("kelvora-no-such-module.dll"));
    // A library without C_GetFunctionList.
    EXPECT_FALSE(connector("version.dll"));

    description tokens;
    inject_failure(tokens.module(rutoken), "C_GetFunctionList", CKR_GENERAL_ERROR);
    inject_failure(tokens.module(jacarta), "C_Initialize", CKR_CRYPTOKI_ALREADY_INITIALIZED);
    inject_failure(tokens.module(esmart), "C_Initialize", CKR_DEVICE_ERROR);
    install(tokens);
    EXPECT_FALSE(connector(rutoken));
    EXPECT_FALSE(connector(jacarta));
    EXPECT_FALSE(connector(esmart));
    // None was finalised (none was initialised by us), and each was freed again.
    EXPECT_TRUE(log("C_Finalize").empty());
    EXPECT_EQ(log("detach=unload").size(), 3u);
    EXPECT_FALSE(module_loaded(rutoken));
    EXPECT_FALSE(module_loaded(jacarta));
    EXPECT_FALSE(module_loaded(esmart));
}

TEST_F(Connector, TheModuleIsFinalisedAndFreedWhenItsLastUserGoes)
{
    description tokens;
    tokens.add_slot(rutoken, "Reader");
    install(tokens);
    std::vector<crypto::pkcs11::slot> slots;
    {
        const connector module(rutoken);
        slots = module.slots();
    }
    ASSERT_EQ(slots.size(), 1u);
    // The slot still holds the function list.
    EXPECT_TRUE(log("C_Finalize").empty());
    EXPECT_TRUE(module_loaded(rutoken));
    slots.clear();
    EXPECT_EQ(log("C_Finalize"), std::vector<std::string>{"rtPKCS11ECP.dll C_Finalize reserved=null"});
    EXPECT_FALSE(module_loaded(rutoken));
}

TEST_F(Connector, SlotListsHoldTheSlotsWithATokenInTheModulesOrder)
{
    description tokens;
    tokens.add_slot(rutoken, "A").put("id", "12");
    tokens.add_slot(rutoken, "Empty reader").put("token_present", "false");
    tokens.add_slot(rutoken, "B").put("id", "3");
    set_mechanisms(tokens.add_slot(rutoken, "RSA only"), {0x1, 0x40});
    tokens.module(rutoken).get_child("slots").back().second.put("id", "20");
    auto& failing = tokens.add_slot(rutoken, "No mechanisms");
    failing.put("id", "21");
    inject_failure(failing, "C_GetMechanismList", CKR_DEVICE_ERROR);
    install(tokens);

    const connector module(rutoken);
    EXPECT_EQ(ids_of(module.slots()), (std::vector<CK_SLOT_ID>{12, 3, 20, 21}));
    EXPECT_EQ(ids_of(module.gost_slots()), (std::vector<CK_SLOT_ID>{12, 3}));
}

TEST_F(Connector, NoSlotMeansOneSlotListCall)
{
    const connector module(jacarta);
    clear_log();
    EXPECT_TRUE(module.slots().empty());
    EXPECT_EQ(log("C_GetSlotList"), std::vector<std::string>{"jcPKCS11-2.dll C_GetSlotList buffer=null"});
}

TEST_F(Connector, ASlotListCountIsUsedOnlyAsFarAsTheBufferReaches)
{
    description tokens;
    tokens.add_slot(rutoken, "A");
    tokens.add_slot(rutoken, "B");
    // The filling call claims 1000 slots more than it wrote.
    set_number(tokens.module(rutoken), "overstate", "C_GetSlotList", 1000);
    tokens.add_slot(esmart, "C");
    // The size query asks for room for 5 slots more than there are.
    set_number(tokens.module(esmart), "pad_query", "C_GetSlotList", 5);
    install(tokens);

    const connector overstating(rutoken);
    EXPECT_EQ(ids_of(overstating.slots()), (std::vector<CK_SLOT_ID>{1, 2}));
    const connector padding(esmart);
    clear_log();
    EXPECT_EQ(ids_of(padding.slots()), (std::vector<CK_SLOT_ID>{1}));
    EXPECT_EQ(log("C_GetSlotList").back(), "isbc_pkcs11_main.dll C_GetSlotList buffer=6");
}

TEST_F(Connector, SlotListFailuresThrowTheModulesCode)
{
    description tokens;
    tokens.add_slot(rutoken, "A");
    inject_failure(tokens.module(rutoken), "C_GetSlotList", CKR_DEVICE_REMOVED);
    tokens.add_slot(jacarta, "B");
    inject_failure(tokens.module(jacarta), "C_GetSlotList", CKR_DEVICE_MEMORY, 1);
    install(tokens);
    try {
        connector(rutoken).slots();
        FAIL() << "no exception";
    } catch (const crypto::pkcs11::exception& error) {
        EXPECT_EQ(error.code(), CKR_DEVICE_REMOVED);
        EXPECT_STREQ(error.what(), "PKCS#11 error, code = 0x00000032");
    }
    // The second call (the one with the buffer) fails.
    try {
        connector(jacarta).gost_slots();
        FAIL() << "no exception";
    } catch (const crypto::pkcs11::exception& error) {
        EXPECT_EQ(error.code(), CKR_DEVICE_MEMORY);
    }
}

TEST_F(Connector, MechanismListsAndTheGostSupportTests)
{
    description tokens;
    set_mechanisms(tokens.add_slot(rutoken, "2001 only"), {0x1201});
    set_mechanisms(tokens.add_slot(rutoken, "2012"), {0x1201, 0xD4321008, 0xD4321006});
    auto& lying = tokens.add_slot(rutoken, "lying");
    set_mechanisms(lying, {0x1201, 0xD4321008});
    set_number(lying, "overstate", "C_GetMechanismList", 4000);
    auto& padded = tokens.add_slot(rutoken, "padded");
    set_mechanisms(padded, {0xD4321008});
    set_number(padded, "pad_query", "C_GetMechanismList", 3);
    auto& failing = tokens.add_slot(rutoken, "failing");
    inject_failure(failing, "C_GetMechanismList", CKR_DEVICE_ERROR, 1);
    set_mechanisms(tokens.add_slot(rutoken, "none"), {});
    install(tokens);

    const auto slots = connector(rutoken).slots();
    ASSERT_EQ(slots.size(), 6u);
    EXPECT_EQ(slots[0].get_mechanisms(), (std::vector<CK_MECHANISM_TYPE>{0x1201}));
    EXPECT_TRUE(slots[0].supports_gost_2001());
    EXPECT_FALSE(slots[0].supports_gost_2012());
    EXPECT_TRUE(slots[1].supports_gost_2012());
    EXPECT_EQ(slots[2].get_mechanisms(), (std::vector<CK_MECHANISM_TYPE>{0x1201, 0xD4321008}));
    EXPECT_EQ(slots[3].get_mechanisms(), (std::vector<CK_MECHANISM_TYPE>{0xD4321008}));
    EXPECT_FALSE(slots[3].supports_gost_2001());
    // The filling call fails: no list, no support.
    EXPECT_TRUE(slots[4].get_mechanisms().empty());
    EXPECT_FALSE(slots[4].supports_gost_2001());
    EXPECT_FALSE(slots[4].supports_gost_2012());
    EXPECT_TRUE(slots[5].get_mechanisms().empty());
}

TEST_F(Connector, SlotAndTokenInformation)
{
    description tokens;
    auto& slot = tokens.add_slot(rutoken, "Kelvora Reader 1");
    slot.put("token.label", "Token label");
    slot.put("token.serial", "SN0042");
    slot.put("token.model", "Model X");
    slot.put("token.flags", "0x40D");
    auto& broken = tokens.add_slot(rutoken, "Broken");
    inject_failure(broken, "C_GetSlotInfo", CKR_DEVICE_ERROR);
    inject_failure(broken, "C_GetTokenInfo", CKR_TOKEN_NOT_RECOGNIZED);
    install(tokens);

    const auto slots = connector(rutoken).slots();
    ASSERT_EQ(slots.size(), 2u);
    const CK_SLOT_INFO info = slots[0].get_info();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.slotDescription), 16), "Kelvora Reader 1");
    EXPECT_TRUE(info.flags & CKF_TOKEN_PRESENT);
    const CK_TOKEN_INFO token = slots[0].get_token_info();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(token.label), 11), "Token label");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(token.serialNumber), 6), "SN0042");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(token.model), 7), "Model X");
    EXPECT_EQ(token.flags, 0x40DUL);
    EXPECT_THROW(slots[1].get_info(), crypto::pkcs11::exception);
    try {
        slots[1].get_token_info();
        FAIL() << "no exception";
    } catch (const crypto::pkcs11::exception& error) {
        EXPECT_EQ(error.code(), CKR_TOKEN_NOT_RECOGNIZED);
    }
}

class Registry : public standin_fixture {};

TEST_F(Registry, StartsEmptyAndLoadsTheModulesInTableOrderOnce)
{
    EXPECT_TRUE(crypto::pkcs11::pkcs11_module_registry().empty());
    EXPECT_TRUE(log().empty());
    const auto copy = crypto::pkcs11::loaded_pkcs11_modules();
    EXPECT_EQ(copy.size(), 3u);
    EXPECT_EQ(registered_families(), (std::set<std::string>{"esmart", "jacarta", "rutoken_ecp"}));
    EXPECT_EQ(log("C_GetFunctionList"), (std::vector<std::string>{"rtPKCS11ECP.dll C_GetFunctionList",
                                                                  "jcPKCS11-2.dll C_GetFunctionList",
                                                                  "isbc_pkcs11_main.dll C_GetFunctionList"}));
    // Families known by ATR only have no module.
    EXPECT_EQ(crypto::pkcs11::pkcs11_module_registry().count("rutoken"), 0u);
    EXPECT_EQ(crypto::pkcs11::pkcs11_module_registry().count("etoken"), 0u);
    crypto::pkcs11::loaded_pkcs11_modules();
    EXPECT_EQ(log("C_Initialize args").size(), 3u);
}

TEST_F(Registry, AModuleInitialisedElsewhereCountsAsFailedAndTheOthersStillLoad)
{
    description tokens;
    inject_failure(tokens.module(jacarta), "C_Initialize", CKR_CRYPTOKI_ALREADY_INITIALIZED);
    install(tokens);
    crypto::pkcs11::loaded_pkcs11_modules();
    EXPECT_EQ(registered_families(), (std::set<std::string>{"esmart", "rutoken_ecp"}));

    // Once one module is registered, nothing is loaded again, not even the
    // module that failed and would load now.
    install(description());
    clear_log();
    crypto::pkcs11::loaded_pkcs11_modules();
    EXPECT_EQ(registered_families(), (std::set<std::string>{"esmart", "rutoken_ecp"}));
    EXPECT_TRUE(log("C_GetFunctionList").empty());
}

TEST_F(Registry, WhileNoModuleLoadedEveryOperationTriesAllThreeAgain)
{
    description tokens;
    for (const char* name : {rutoken, jacarta, esmart})
        inject_failure(tokens.module(name), "C_Initialize", CKR_GENERAL_ERROR);
    install(tokens);
    EXPECT_TRUE(crypto::pkcs11::loaded_pkcs11_modules().empty());
    EXPECT_TRUE(crypto::pkcs11::loaded_pkcs11_modules().empty());
    EXPECT_EQ(log("C_Initialize args").size(), 6u);

    install(description());
    EXPECT_EQ(crypto::pkcs11::loaded_pkcs11_modules().size(), 3u);
}

TEST_F(Registry, AnEntryAlreadyPresentStays)
{
    auto& registry = crypto::pkcs11::pkcs11_module_registry();
    registry.emplace("jacarta", connector(rutoken));
    const auto* kept = registry.at("jacarta").functions().get();
    clear_log();
    crypto::pkcs11::load_pkcs11_modules();
    EXPECT_EQ(registry.at("jacarta").functions().get(), kept);
    EXPECT_EQ(registry.count("esmart"), 1u);
    // The module under "jacarta" is initialised already, so loading it for
    // its own family fails; jacarta's own module loaded but was not kept.
    EXPECT_EQ(registry.count("rutoken_ecp"), 0u);
    EXPECT_EQ(registry.size(), 2u);
    EXPECT_EQ(log("C_Finalize"), std::vector<std::string>{"jcPKCS11-2.dll C_Finalize reserved=null"});
}

}  // namespace
}  // namespace pkcs11_test
