// The module's one export, C_GetFunctionList (cdecl, as Cryptoki modules
// export it), the function list behind it, and DllMain, which learns the file
// name the module was loaded under.
#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>

#include "call_log.h"
#include "token_module.h"

namespace pkcs11_standin {
namespace {

// Set when the module is detached from the process; its state is gone then.
bool detached = false;

// Every entry runs under the module's lock. A call after the module was
// detached (a user that finalises modules while the process ends) is only
// logged.
template <class Member, class... Args>
CK_RV locked(const char* function, Member member, Args... args)
{
    if (detached) {
        log_call(function, "after-detach");
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    }
    token_module& module = the_module();
    const std::lock_guard<std::mutex> guard(module.lock());
    return (module.*member)(args...);
}

// The functions the stand-in does not implement answer as a module without them.
template <class Function>
struct unsupported;
template <class... Args>
struct unsupported<CK_RV (*)(Args...)> {
    static CK_RV call(Args...) { return CKR_FUNCTION_NOT_SUPPORTED; }
};

CK_RV get_function_list(CK_FUNCTION_LIST_PTR_PTR list);

CK_RV initialize(void* arguments) { return locked("C_Initialize", &token_module::initialize, arguments); }
CK_RV finalize(void* reserved) { return locked("C_Finalize", &token_module::finalize, reserved); }
CK_RV get_info(CK_INFO_PTR info) { return locked("C_GetInfo", &token_module::get_info, info); }
CK_RV get_slot_list(CK_BBOOL present, CK_SLOT_ID_PTR list, CK_ULONG_PTR count)
{
    return locked("C_GetSlotList", &token_module::get_slot_list, present, list, count);
}
CK_RV get_slot_info(CK_SLOT_ID id, CK_SLOT_INFO_PTR info)
{
    return locked("C_GetSlotInfo", &token_module::get_slot_info, id, info);
}
CK_RV get_token_info(CK_SLOT_ID id, CK_TOKEN_INFO_PTR info)
{
    return locked("C_GetTokenInfo", &token_module::get_token_info, id, info);
}
CK_RV get_mechanism_list(CK_SLOT_ID id, CK_MECHANISM_TYPE_PTR list, CK_ULONG_PTR count)
{
    return locked("C_GetMechanismList", &token_module::get_mechanism_list, id, list, count);
}
CK_RV open_session(CK_SLOT_ID id, CK_FLAGS flags, void*, CK_NOTIFY, CK_SESSION_HANDLE_PTR handle)
{
    return locked("C_OpenSession", &token_module::open_session, id, flags, handle);
}
CK_RV close_session(CK_SESSION_HANDLE handle) { return locked("C_CloseSession", &token_module::close_session, handle); }
CK_RV close_all_sessions(CK_SLOT_ID id) { return locked("C_CloseAllSessions", &token_module::close_all_sessions, id); }
CK_RV get_session_info(CK_SESSION_HANDLE handle, CK_SESSION_INFO_PTR info)
{
    return locked("C_GetSessionInfo", &token_module::get_session_info, handle, info);
}
CK_RV login(CK_SESSION_HANDLE handle, CK_USER_TYPE user, CK_UTF8CHAR_PTR pin, CK_ULONG length)
{
    return locked("C_Login", &token_module::login, handle, user, pin, length);
}
CK_RV logout(CK_SESSION_HANDLE handle) { return locked("C_Logout", &token_module::logout, handle); }
CK_RV get_attribute_value(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR attributes,
                          CK_ULONG count)
{
    return locked("C_GetAttributeValue", &token_module::get_attribute_value, handle, object, attributes, count);
}
CK_RV find_objects_init(CK_SESSION_HANDLE handle, CK_ATTRIBUTE_PTR criteria, CK_ULONG count)
{
    return locked("C_FindObjectsInit", &token_module::find_objects_init, handle, criteria, count);
}
CK_RV find_objects(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE_PTR objects, CK_ULONG max, CK_ULONG_PTR found)
{
    return locked("C_FindObjects", &token_module::find_objects, handle, objects, max, found);
}
CK_RV find_objects_final(CK_SESSION_HANDLE handle)
{
    return locked("C_FindObjectsFinal", &token_module::find_objects_final, handle);
}
CK_RV sign_init(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key)
{
    return locked("C_SignInit", &token_module::sign_init, handle, mechanism, key);
}
CK_RV sign(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG length, CK_BYTE_PTR signature, CK_ULONG_PTR size)
{
    return locked("C_Sign", &token_module::sign, handle, data, length, signature, size);
}

CK_RV generate_key_pair(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_ATTRIBUTE_PTR public_template,
                        CK_ULONG public_count, CK_ATTRIBUTE_PTR private_template, CK_ULONG private_count,
                        CK_OBJECT_HANDLE_PTR public_key, CK_OBJECT_HANDLE_PTR private_key)
{
    return locked("C_GenerateKeyPair", &token_module::generate_key_pair, handle, mechanism, public_template,
                  public_count, private_template, private_count, public_key, private_key);
}
CK_RV create_object(CK_SESSION_HANDLE handle, CK_ATTRIBUTE_PTR attributes, CK_ULONG count, CK_OBJECT_HANDLE_PTR object)
{
    return locked("C_CreateObject", &token_module::create_object, handle, attributes, count, object);
}

CK_FUNCTION_LIST make_function_list()
{
    CK_FUNCTION_LIST list{};
    list.version = {2, 40};
    list.C_Initialize = initialize;
    list.C_Finalize = finalize;
    list.C_GetInfo = get_info;
    list.C_GetFunctionList = get_function_list;
    list.C_GetSlotList = get_slot_list;
    list.C_GetSlotInfo = get_slot_info;
    list.C_GetTokenInfo = get_token_info;
    list.C_GetMechanismList = get_mechanism_list;
    list.C_GetMechanismInfo = unsupported<CK_C_GetMechanismInfo>::call;
    list.C_InitToken = unsupported<CK_C_InitToken>::call;
    list.C_InitPIN = unsupported<CK_C_InitPIN>::call;
    list.C_SetPIN = unsupported<CK_C_SetPIN>::call;
    list.C_OpenSession = open_session;
    list.C_CloseSession = close_session;
    list.C_CloseAllSessions = close_all_sessions;
    list.C_GetSessionInfo = get_session_info;
    list.C_GetOperationState = unsupported<CK_C_GetOperationState>::call;
    list.C_SetOperationState = unsupported<CK_C_SetOperationState>::call;
    list.C_Login = login;
    list.C_Logout = logout;
    list.C_CreateObject = create_object;
    list.C_CopyObject = unsupported<CK_C_CopyObject>::call;
    list.C_DestroyObject = unsupported<CK_C_DestroyObject>::call;
    list.C_GetObjectSize = unsupported<CK_C_GetObjectSize>::call;
    list.C_GetAttributeValue = get_attribute_value;
    list.C_SetAttributeValue = unsupported<CK_C_SetAttributeValue>::call;
    list.C_FindObjectsInit = find_objects_init;
    list.C_FindObjects = find_objects;
    list.C_FindObjectsFinal = find_objects_final;
    list.C_EncryptInit = unsupported<CK_C_EncryptInit>::call;
    list.C_Encrypt = unsupported<CK_C_Encrypt>::call;
    list.C_EncryptUpdate = unsupported<CK_C_EncryptUpdate>::call;
    list.C_EncryptFinal = unsupported<CK_C_EncryptFinal>::call;
    list.C_DecryptInit = unsupported<CK_C_DecryptInit>::call;
    list.C_Decrypt = unsupported<CK_C_Decrypt>::call;
    list.C_DecryptUpdate = unsupported<CK_C_DecryptUpdate>::call;
    list.C_DecryptFinal = unsupported<CK_C_DecryptFinal>::call;
    list.C_DigestInit = unsupported<CK_C_DigestInit>::call;
    list.C_Digest = unsupported<CK_C_Digest>::call;
    list.C_DigestUpdate = unsupported<CK_C_DigestUpdate>::call;
    list.C_DigestKey = unsupported<CK_C_DigestKey>::call;
    list.C_DigestFinal = unsupported<CK_C_DigestFinal>::call;
    list.C_SignInit = sign_init;
    list.C_Sign = sign;
    list.C_SignUpdate = unsupported<CK_C_SignUpdate>::call;
    list.C_SignFinal = unsupported<CK_C_SignFinal>::call;
    list.C_SignRecoverInit = unsupported<CK_C_SignRecoverInit>::call;
    list.C_SignRecover = unsupported<CK_C_SignRecover>::call;
    list.C_VerifyInit = unsupported<CK_C_VerifyInit>::call;
    list.C_Verify = unsupported<CK_C_Verify>::call;
    list.C_VerifyUpdate = unsupported<CK_C_VerifyUpdate>::call;
    list.C_VerifyFinal = unsupported<CK_C_VerifyFinal>::call;
    list.C_VerifyRecoverInit = unsupported<CK_C_VerifyRecoverInit>::call;
    list.C_VerifyRecover = unsupported<CK_C_VerifyRecover>::call;
    list.C_DigestEncryptUpdate = unsupported<CK_C_DigestEncryptUpdate>::call;
    list.C_DecryptDigestUpdate = unsupported<CK_C_DecryptDigestUpdate>::call;
    list.C_SignEncryptUpdate = unsupported<CK_C_SignEncryptUpdate>::call;
    list.C_DecryptVerifyUpdate = unsupported<CK_C_DecryptVerifyUpdate>::call;
    list.C_GenerateKey = unsupported<CK_C_GenerateKey>::call;
    list.C_GenerateKeyPair = generate_key_pair;
    list.C_WrapKey = unsupported<CK_C_WrapKey>::call;
    list.C_UnwrapKey = unsupported<CK_C_UnwrapKey>::call;
    list.C_DeriveKey = unsupported<CK_C_DeriveKey>::call;
    list.C_SeedRandom = unsupported<CK_C_SeedRandom>::call;
    list.C_GenerateRandom = unsupported<CK_C_GenerateRandom>::call;
    list.C_GetFunctionStatus = unsupported<CK_C_GetFunctionStatus>::call;
    list.C_CancelFunction = unsupported<CK_C_CancelFunction>::call;
    list.C_WaitForSlotEvent = unsupported<CK_C_WaitForSlotEvent>::call;
    return list;
}

CK_FUNCTION_LIST function_list = make_function_list();

// The place in the list of each entry the plug-in calls, by name.
#define KELVORA_ENTRY(name) {#name, offsetof(CK_FUNCTION_LIST, name)}
const std::pair<const char*, std::size_t> entry_offsets[] = {
    KELVORA_ENTRY(C_Initialize), KELVORA_ENTRY(C_Finalize), KELVORA_ENTRY(C_GetSlotList),
    KELVORA_ENTRY(C_GetSlotInfo), KELVORA_ENTRY(C_GetTokenInfo), KELVORA_ENTRY(C_GetMechanismList),
    KELVORA_ENTRY(C_OpenSession), KELVORA_ENTRY(C_CloseSession), KELVORA_ENTRY(C_GetSessionInfo),
    KELVORA_ENTRY(C_Login), KELVORA_ENTRY(C_Logout), KELVORA_ENTRY(C_CreateObject),
    KELVORA_ENTRY(C_GetAttributeValue), KELVORA_ENTRY(C_FindObjectsInit), KELVORA_ENTRY(C_FindObjects),
    KELVORA_ENTRY(C_FindObjectsFinal), KELVORA_ENTRY(C_SignInit), KELVORA_ENTRY(C_Sign),
    KELVORA_ENTRY(C_GenerateKeyPair),
};
#undef KELVORA_ENTRY

std::size_t entry_offset(const std::string& name)
{
    for (const auto& [entry, offset] : entry_offsets)
        if (name == entry)
            return offset;
    throw std::runtime_error("no function list entry " + name);
}

// The list as the description alters it: another version, entries NULL, or
// every entry after one NULL. Read by the module's user after the call, so
// it lives as long as the module.
CK_FUNCTION_LIST altered_list;

CK_FUNCTION_LIST* list_to_hand_out(const function_list_rules& rules)
{
    if (!rules.altered)
        return &function_list;
    altered_list = function_list;
    altered_list.version = rules.version;
    auto* bytes = reinterpret_cast<unsigned char*>(&altered_list);
    for (const auto& name : rules.null_entries)
        std::memset(bytes + entry_offset(name), 0, sizeof(void*));
    if (!rules.end_after.empty()) {
        const std::size_t end = entry_offset(rules.end_after) + sizeof(void*);
        std::memset(bytes + end, 0, sizeof(altered_list) - end);
    }
    return &altered_list;
}

CK_RV get_function_list(CK_FUNCTION_LIST_PTR_PTR list)
{
    if (detached)
        return CKR_GENERAL_ERROR;
    token_module& module = the_module();
    const std::lock_guard<std::mutex> guard(module.lock());
    // The description is read again here (unless the module is in use), so
    // that a test can change it between two loads of the module in one process.
    const CK_RV loaded = module.initialized() ? CKR_OK : module.reload();
    log_call("C_GetFunctionList");
    if (const CK_RV rv = module.injected("C_GetFunctionList"))
        return rv;
    if (loaded != CKR_OK)
        return loaded;
    if (!list)
        return CKR_ARGUMENTS_BAD;
    try {
        *list = list_to_hand_out(module.list_rules());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "pkcs11 stand-in %s: %s\n", module.name().c_str(), error.what());
        return CKR_GENERAL_ERROR;
    }
    return CKR_OK;
}

std::string file_name_of(HINSTANCE instance)
{
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
    std::string name(path, length < MAX_PATH ? length : 0);
    const auto slash = name.find_last_of("\\/");
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

}  // namespace
}  // namespace pkcs11_standin

extern "C" {

CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list)
{
    return pkcs11_standin::get_function_list(list);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    using namespace pkcs11_standin;
    if (reason == DLL_PROCESS_ATTACH) {
        the_module().set_name(file_name_of(instance));
    } else if (reason == DLL_PROCESS_DETACH) {
        // How the module went: freed by its user, or with the whole process.
        log_call("DllMain", reserved ? "detach=process-exit" : "detach=unload");
        detached = true;
    }
    return TRUE;
}

}  // extern "C"
