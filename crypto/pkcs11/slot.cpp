#include "crypto/pkcs11/slot.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "crypto/pkcs11/bounded.h"
#include "crypto/pkcs11/constants.h"
#include "crypto/pkcs11/exception.h"
#include "crypto/pkcs11/session.h"

namespace crypto::pkcs11 {

slot::slot(CK_SLOT_ID id, function_list functions) : id_(id), functions_(std::move(functions)) {}

std::vector<CK_MECHANISM_TYPE> slot::get_mechanisms() const
{
    if (!functions_)
        return {};
    try {
        CK_ULONG count = 0;
        if (functions_->C_GetMechanismList(id_, nullptr, &count) != CKR_OK || count == 0)
            return {};
        std::vector<CK_MECHANISM_TYPE> mechanisms(bounded_size(count, mechanism_list_capacity), 0);
        auto filled = static_cast<CK_ULONG>(mechanisms.size());
        if (functions_->C_GetMechanismList(id_, mechanisms.data(), &filled) != CKR_OK)
            return {};
        keep_written(mechanisms, filled);
        return mechanisms;
    } catch (const std::exception&) {
        // Out of memory, whatever form the runtime gives it: no mechanisms.
        return {};
    }
}

bool slot::has_mechanism(CK_MECHANISM_TYPE mechanism) const
{
    const auto mechanisms = get_mechanisms();
    return std::find(mechanisms.begin(), mechanisms.end(), mechanism) != mechanisms.end();
}

bool slot::supports_gost_2001() const
{
    return has_mechanism(CKM_GOSTR3410);
}

bool slot::supports_gost_2012() const
{
    return has_mechanism(mechanism_gost_3410_12_256_with_3411_12);
}

CK_SLOT_INFO slot::get_info() const
{
    CK_SLOT_INFO info{};
    const CK_RV rv = functions_->C_GetSlotInfo(id_, &info);
    if (rv != CKR_OK)
        throw exception(rv);
    return info;
}

CK_TOKEN_INFO slot::get_token_info() const
{
    CK_TOKEN_INFO info{};
    const CK_RV rv = functions_->C_GetTokenInfo(id_, &info);
    if (rv != CKR_OK)
        throw exception(rv);
    return info;
}

std::shared_ptr<session> slot::open_session(bool read_write) const
{
    CK_SESSION_HANDLE handle = 0;
    const CK_FLAGS flags = CKF_SERIAL_SESSION | (read_write ? CKF_RW_SESSION : 0);
    const CK_RV rv = functions_->C_OpenSession(id_, flags, nullptr, nullptr, &handle);
    if (rv != CKR_OK)
        throw exception(rv);
    try {
        return session::make(handle, functions_);
    } catch (...) {
        functions_->C_CloseSession(handle);
        throw;
    }
}

}  // namespace crypto::pkcs11
