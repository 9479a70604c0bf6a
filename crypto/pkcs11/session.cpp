#include "crypto/pkcs11/session.h"

#include <utility>

#include "crypto/pkcs11/bounded.h"
#include "crypto/pkcs11/exception.h"
#include "crypto/pkcs11/slot.h"
#include "crypto/pkcs11/token_object.h"

namespace crypto::pkcs11 {

std::shared_ptr<session> session::make(CK_SESSION_HANDLE handle, function_list functions)
{
    return std::shared_ptr<session>(new session(handle, std::move(functions)));
}

session::session(CK_SESSION_HANDLE handle, function_list functions) : handle_(handle), functions_(std::move(functions))
{
}

session::~session()
{
    if (!handle_ || !functions_)
        return;
    if (logged_in_)
        logout();
    functions_->C_CloseSession(handle_);
}

bool session::is_valid(const std::shared_ptr<session>& candidate)
{
    return candidate && candidate->handle_ && candidate->functions_;
}

void session::login(const std::string& pin)
{
    // Cryptoki's prototype takes a non-const PIN; the module only reads it.
    auto* text = reinterpret_cast<CK_UTF8CHAR*>(const_cast<char*>(pin.data()));
    const CK_RV rv = functions_->C_Login(handle_, CKU_USER, text, static_cast<CK_ULONG>(pin.size()));
    if (rv != CKR_OK)
        throw exception(rv);
    logged_in_ = true;
}

void session::logout()
{
    functions_->C_Logout(handle_);
    logged_in_ = false;
}

slot session::get_slot() const
{
    CK_SESSION_INFO info{};
    const CK_RV rv = functions_->C_GetSessionInfo(handle_, &info);
    if (rv != CKR_OK)
        throw exception(rv);
    return slot(info.slotID, functions_);
}

byte_vector session::sign(const token_object& key, const byte_vector& data, CK_MECHANISM mechanism) const
{
    CK_RV rv = functions_->C_SignInit(handle_, &mechanism, key.handle());
    if (rv != CKR_OK)
        throw exception(rv);
    // Cryptoki's prototype takes non-const data; the module only reads it.
    auto* input = const_cast<CK_BYTE*>(data.data());
    const auto input_length = static_cast<CK_ULONG>(data.size());
    CK_ULONG length = 0;
    rv = functions_->C_Sign(handle_, input, input_length, nullptr, &length);
    if (rv != CKR_OK)
        throw exception(rv);
    // A size beyond any signature gets a buffer of the bound: a token that
    // asked for more than it writes still signs, one that needs more refuses.
    byte_vector signature(bounded_size(length, signature_size_limit), 0);
    auto written = static_cast<CK_ULONG>(signature.size());
    rv = functions_->C_Sign(handle_, input, input_length, signature.data(), &written);
    if (rv != CKR_OK)
        throw exception(rv);
    keep_written(signature, written);
    return signature;
}

}  // namespace crypto::pkcs11
