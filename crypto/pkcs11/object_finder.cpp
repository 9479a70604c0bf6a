#include "crypto/pkcs11/object_finder.h"

#include <utility>

#include "crypto/pkcs11/exception.h"
#include "crypto/pkcs11/session.h"

namespace crypto::pkcs11 {

object_finder::object_finder(std::shared_ptr<session> owner, attribute_template criteria)
    : object_finder(std::move(owner), std::move(criteria), own_budget_)
{
}

object_finder::object_finder(std::shared_ptr<session> owner, attribute_template criteria, object_budget& budget)
    : session_(std::move(owner)), budget_(budget)
{
    if (!session::is_valid(session_))
        return;
    const CK_RV rv = session_->functions()->C_FindObjectsInit(session_->handle(), criteria.data(),
                                                              static_cast<CK_ULONG>(criteria.size()));
    active_ = rv == CKR_OK;
}

object_finder::~object_finder()
{
    if (active_)
        session_->functions()->C_FindObjectsFinal(session_->handle());
}

token_object object_finder::next()
{
    if (!session::is_valid(session_) || budget_.exhausted())
        return {};
    CK_OBJECT_HANDLE object = 0;
    CK_ULONG found = 0;
    const CK_RV rv = session_->functions()->C_FindObjects(session_->handle(), &object, 1, &found);
    if (rv != CKR_OK)
        throw exception(rv);
    // One handle was asked for; a larger count still means that one.
    if (found == 0)
        return {};
    budget_.spend();
    return token_object(object, session_);
}

}  // namespace crypto::pkcs11
