#pragma once
#include <cstddef>
#include <memory>

#include "crypto/pkcs11/templates.h"
#include "crypto/pkcs11/token_object.h"

namespace crypto::pkcs11 {

class session;

// How many objects the searches of one command may still take, in all. A
// module whose search never reports its end is followed only this far.
class object_budget {
public:
    // Far above the objects of any real token.
    static constexpr std::size_t objects_per_command = 4096;

    explicit object_budget(std::size_t objects = objects_per_command) : left_(objects) {}

    bool exhausted() const { return left_ == 0; }
    void spend() { left_ -= left_ ? 1 : 0; }

private:
    std::size_t left_;
};

// One object search on a session, from construction to destruction. The
// search may fail to start (no exception); next() then reports the token's
// answer. The objects it gives come out of a budget, its own unless the
// command shares one among its searches; once that is spent, next() reports
// no more objects without asking the module.
class object_finder {
public:
    object_finder(std::shared_ptr<session> owner, attribute_template criteria);
    object_finder(std::shared_ptr<session> owner, attribute_template criteria, object_budget& budget);
    ~object_finder();
    object_finder(const object_finder&) = delete;
    object_finder& operator=(const object_finder&) = delete;

    bool active() const { return active_; }
    // The next object, or an empty one when there are no more. Throws
    // crypto::pkcs11::exception.
    token_object next();

private:
    std::shared_ptr<session> session_;
    bool active_ = false;
    object_budget own_budget_;
    object_budget& budget_;
};

}  // namespace crypto::pkcs11
