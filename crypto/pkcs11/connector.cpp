#include "crypto/pkcs11/connector.h"

#include <windows.h>

#include <atomic>

#include "crypto/pkcs11/bounded.h"
#include "crypto/pkcs11/exception.h"
#include "crypto/pkcs11/module_search.h"
#include "crypto/pkcs11/slot.h"

namespace crypto::pkcs11 {
namespace {

std::atomic<bool> modules_abandoned{false};

// Owns a module handle until the connector takes it over.
class loaded_module {
public:
    explicit loaded_module(const std::string& file) : handle_(load_module_file(file)) {}
    ~loaded_module()
    {
        if (handle_)
            FreeLibrary(handle_);
    }
    loaded_module(const loaded_module&) = delete;
    loaded_module& operator=(const loaded_module&) = delete;

    HMODULE get() const { return handle_; }
    HMODULE release()
    {
        const HMODULE handle = handle_;
        handle_ = nullptr;
        return handle;
    }

private:
    HMODULE handle_;
};

// Runs when the last share of a function list goes.
struct module_finaliser {
    HMODULE module;

    void operator()(CK_FUNCTION_LIST* functions) const
    {
        if (modules_abandoned.load())
            return;
        functions->C_Finalize(nullptr);
        FreeLibrary(module);
    }
};

// A list the system can call through: Cryptoki version 2 (the layout of
// CK_FUNCTION_LIST), and every entry that the system calls set. A module
// whose list falls short counts as one that did not load.
bool is_callable(const CK_FUNCTION_LIST& list)
{
    return list.version.major == 2 && list.C_Initialize && list.C_Finalize && list.C_GetSlotList &&
           list.C_GetSlotInfo && list.C_GetTokenInfo && list.C_GetMechanismList && list.C_OpenSession &&
           list.C_CloseSession && list.C_GetSessionInfo && list.C_Login && list.C_Logout &&
           list.C_GetAttributeValue && list.C_FindObjectsInit && list.C_FindObjects && list.C_FindObjectsFinal &&
           list.C_SignInit && list.C_Sign && list.C_GenerateKeyPair && list.C_CreateObject;
}

}  // namespace

connector::connector(const std::string& module_file)
{
    loaded_module module(module_file);
    if (!module.get())
        return;
    const FARPROC entry = GetProcAddress(module.get(), "C_GetFunctionList");
    const auto get_function_list = reinterpret_cast<CK_C_GetFunctionList>(reinterpret_cast<void (*)()>(entry));
    if (!get_function_list)
        return;
    CK_FUNCTION_LIST* functions = nullptr;
    if (get_function_list(&functions) != CKR_OK || !functions || !is_callable(*functions))
        return;
    if (functions->C_Initialize(nullptr) != CKR_OK)
        return;
    functions_ = function_list(functions, module_finaliser{module.release()});
}

std::vector<slot> connector::slots() const
{
    std::vector<slot> result;
    if (!functions_)
        return result;
    CK_ULONG count = 0;
    CK_RV rv = functions_->C_GetSlotList(CK_TRUE, nullptr, &count);
    if (rv != CKR_OK)
        throw exception(rv);
    if (count == 0)
        return result;
    std::vector<CK_SLOT_ID> ids(bounded_size(count, slot_list_capacity), 0);
    auto filled = static_cast<CK_ULONG>(ids.size());
    rv = functions_->C_GetSlotList(CK_TRUE, ids.data(), &filled);
    if (rv != CKR_OK)
        throw exception(rv);
    keep_written(ids, filled);
    result.reserve(ids.size());
    for (const CK_SLOT_ID id : ids)
        result.emplace_back(id, functions_);
    return result;
}

std::vector<slot> connector::gost_slots() const
{
    std::vector<slot> result;
    for (auto& candidate : slots())
        if (candidate.supports_gost_2001())
            result.push_back(std::move(candidate));
    return result;
}

void abandon_modules_at_exit()
{
    modules_abandoned.store(true);
}

}  // namespace crypto::pkcs11
