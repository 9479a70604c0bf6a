#pragma once
// The state of one stand-in module in a process: its description, whether it
// is initialised, the open sessions and which tokens are logged in. Each
// Cryptoki function of the function list is one member here.
#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "description.h"

namespace pkcs11_standin {

// An object's handle: its slot's and its own position, both from 1.
inline CK_OBJECT_HANDLE object_handle(std::size_t slot_index, std::size_t object_index)
{
    return static_cast<CK_OBJECT_HANDLE>(((slot_index + 1) << 16) | (object_index + 1));
}

class token_module {
public:
    // The file name the module was loaded under ("rtPKCS11ECP.dll", ...).
    void set_name(const std::string& name) { name_ = name; }
    const std::string& name() const { return name_; }
    std::mutex& lock() { return lock_; }
    bool initialized() const { return initialized_; }
    // How the description alters the function list handed out.
    const function_list_rules& list_rules() const { return description_.function_list; }

    // Re-reads the description; a description that does not read gives
    // CKR_GENERAL_ERROR. Used by C_GetFunctionList and C_Initialize.
    CK_RV reload();
    // The injected answer of a function, if any (counts the call).
    CK_RV injected(const std::string& function, const slot_description* slot = nullptr);

    CK_RV initialize(void* arguments);
    CK_RV finalize(void* reserved);
    CK_RV get_info(CK_INFO* info);
    CK_RV get_slot_list(CK_BBOOL token_present, CK_SLOT_ID* list, CK_ULONG* count);
    CK_RV get_slot_info(CK_SLOT_ID id, CK_SLOT_INFO* info);
    CK_RV get_token_info(CK_SLOT_ID id, CK_TOKEN_INFO* info);
    CK_RV get_mechanism_list(CK_SLOT_ID id, CK_MECHANISM_TYPE* list, CK_ULONG* count);
    CK_RV open_session(CK_SLOT_ID id, CK_FLAGS flags, CK_SESSION_HANDLE* handle);
    CK_RV close_session(CK_SESSION_HANDLE handle);
    CK_RV close_all_sessions(CK_SLOT_ID id);
    CK_RV get_session_info(CK_SESSION_HANDLE handle, CK_SESSION_INFO* info);
    CK_RV login(CK_SESSION_HANDLE handle, CK_USER_TYPE user, CK_UTF8CHAR* pin, CK_ULONG length);
    CK_RV logout(CK_SESSION_HANDLE handle);
    CK_RV get_attribute_value(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object, CK_ATTRIBUTE* attributes,
                              CK_ULONG count);
    CK_RV find_objects_init(CK_SESSION_HANDLE handle, CK_ATTRIBUTE* criteria, CK_ULONG count);
    CK_RV find_objects(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE* objects, CK_ULONG max, CK_ULONG* found);
    CK_RV find_objects_final(CK_SESSION_HANDLE handle);
    CK_RV sign_init(CK_SESSION_HANDLE handle, CK_MECHANISM* mechanism, CK_OBJECT_HANDLE key);
    CK_RV sign(CK_SESSION_HANDLE handle, CK_BYTE* data, CK_ULONG length, CK_BYTE* signature,
               CK_ULONG* signature_length);
    // Objects made on the token (object_creation.cpp): kept in the slot and
    // in the description's store, so that later processes find them.
    CK_RV generate_key_pair(CK_SESSION_HANDLE handle, CK_MECHANISM* mechanism, CK_ATTRIBUTE* public_template,
                            CK_ULONG public_count, CK_ATTRIBUTE* private_template, CK_ULONG private_count,
                            CK_OBJECT_HANDLE* public_key, CK_OBJECT_HANDLE* private_key);
    CK_RV create_object(CK_SESSION_HANDLE handle, CK_ATTRIBUTE* attributes, CK_ULONG count, CK_OBJECT_HANDLE* object);

private:
    struct session_state {
        std::size_t slot = 0;  // index into description_.slots
        CK_FLAGS flags = 0;
        bool finding = false;
        std::vector<CK_OBJECT_HANDLE> matches;
        std::size_t next_match = 0;
        bool signing = false;
        CK_MECHANISM_TYPE mechanism = 0;
        CK_OBJECT_HANDLE key = 0;
    };

    const slot_description* find_slot(CK_SLOT_ID id, std::size_t* index = nullptr) const;
    session_state* find_session(CK_SESSION_HANDLE handle);
    const object_description* find_object(const session_state& session, CK_OBJECT_HANDLE object) const;
    bool visible(const session_state& session, const object_description& object) const;
    unsigned long overstate(const std::string& function, const slot_description* slot) const;
    unsigned long pad_query(const std::string& function, const slot_description* slot) const;
    // Checks that objects may be made in the session: a read-write session of
    // a logged-in token.
    CK_RV check_writable(const session_state& session) const;
    // Appends the object to the session's slot and the store; gives its handle.
    CK_OBJECT_HANDLE add_object(const session_state& session, const object_description& object);

    // The two-call answer of a list: its size to a call without a buffer,
    // CKR_BUFFER_TOO_SMALL for a short buffer, otherwise the values. The
    // description may pad the size answer or overstate the count written.
    template <typename T>
    CK_RV answer_list(const std::vector<T>& values, T* list, CK_ULONG* count, const std::string& function,
                      const slot_description* slot) const
    {
        if (!list) {
            *count = static_cast<CK_ULONG>(values.size()) + pad_query(function, slot);
            return CKR_OK;
        }
        if (*count < values.size()) {
            *count = static_cast<CK_ULONG>(values.size());
            return CKR_BUFFER_TOO_SMALL;
        }
        std::copy(values.begin(), values.end(), list);
        *count = static_cast<CK_ULONG>(values.size()) + overstate(function, slot);
        return CKR_OK;
    }

    std::string name_;
    std::mutex lock_;
    module_description description_;
    bool initialized_ = false;
    std::map<CK_SESSION_HANDLE, session_state> sessions_;
    CK_SESSION_HANDLE next_session_ = 0x100;
    std::vector<bool> logged_in_;  // per slot
    std::map<std::string, unsigned long> calls_;
};

token_module& the_module();

}  // namespace pkcs11_standin
