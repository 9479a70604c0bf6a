#include "token_module.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "call_log.h"
#include "signature_scheme.h"

namespace pkcs11_standin {
namespace {

// Blank-padded fixed-width text of a Cryptoki structure.
template <std::size_t N>
void put_text(CK_UTF8CHAR (&field)[N], const std::string& text, char padding = ' ')
{
    std::memset(field, padding, N);
    std::memcpy(field, text.data(), std::min(N, text.size()));
}

}  // namespace

token_module& the_module()
{
    static token_module module;
    return module;
}

CK_RV token_module::reload()
{
    try {
        description_ = read_description(name_);
    } catch (const std::exception& error) {
        description_ = module_description();
        std::fprintf(stderr, "pkcs11 stand-in %s: %s\n", name_.c_str(), error.what());
        return CKR_GENERAL_ERROR;
    }
    set_log(name_, description_.log_path);
    return CKR_OK;
}

CK_RV token_module::injected(const std::string& function, const slot_description* slot)
{
    const unsigned long call = ++calls_[function];
    const fault_rules* levels[] = {slot ? &slot->faults : nullptr, &description_.faults};
    for (const fault_rules* rules : levels) {
        if (!rules)
            continue;
        const auto it = rules->fail.find(function);
        if (it != rules->fail.end())
            return call > it->second.after ? it->second.rv : CKR_OK;
    }
    return CKR_OK;
}

unsigned long token_module::overstate(const std::string& function, const slot_description* slot) const
{
    for (const fault_rules* rules : {slot ? &slot->faults : nullptr, &description_.faults}) {
        if (!rules)
            continue;
        const auto it = rules->overstate.find(function);
        if (it != rules->overstate.end())
            return it->second;
    }
    return 0;
}

unsigned long token_module::pad_query(const std::string& function, const slot_description* slot) const
{
    for (const fault_rules* rules : {slot ? &slot->faults : nullptr, &description_.faults}) {
        if (!rules)
            continue;
        const auto it = rules->pad_query.find(function);
        if (it != rules->pad_query.end())
            return it->second;
    }
    return 0;
}

const slot_description* token_module::find_slot(CK_SLOT_ID id, std::size_t* index) const
{
    for (std::size_t i = 0; i < description_.slots.size(); ++i) {
        if (description_.slots[i].id == id) {
            if (index)
                *index = i;
            return &description_.slots[i];
        }
    }
    return nullptr;
}

token_module::session_state* token_module::find_session(CK_SESSION_HANDLE handle)
{
    const auto it = sessions_.find(handle);
    return it == sessions_.end() ? nullptr : &it->second;
}

const object_description* token_module::find_object(const session_state& session, CK_OBJECT_HANDLE object) const
{
    const std::size_t slot_index = (object >> 16) - 1;
    const std::size_t object_index = (object & 0xFFFF) - 1;
    if (slot_index != session.slot || (object & 0xFFFF) == 0)
        return nullptr;
    const auto& objects = description_.slots[session.slot].objects;
    if (object_index >= objects.size())
        return nullptr;
    return visible(session, objects[object_index]) ? &objects[object_index] : nullptr;
}

bool token_module::visible(const session_state& session, const object_description& object) const
{
    return !object.is_private || logged_in_[session.slot];
}

CK_RV token_module::initialize(void* arguments)
{
    log_call("C_Initialize", arguments ? "args=set" : "args=null");
    if (const CK_RV rv = injected("C_Initialize"))
        return rv;
    if (initialized_)
        return CKR_CRYPTOKI_ALREADY_INITIALIZED;
    if (const CK_RV rv = reload())
        return rv;
    log_call("C_Initialize", "loaded slots=" + std::to_string(description_.slots.size()));
    initialized_ = true;
    sessions_.clear();
    logged_in_.assign(description_.slots.size(), false);
    return CKR_OK;
}

CK_RV token_module::finalize(void* reserved)
{
    log_call("C_Finalize", reserved ? "reserved=set" : "reserved=null");
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (const CK_RV rv = injected("C_Finalize"))
        return rv;
    initialized_ = false;
    sessions_.clear();
    logged_in_.clear();
    return CKR_OK;
}

CK_RV token_module::get_info(CK_INFO* info)
{
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (!info)
        return CKR_ARGUMENTS_BAD;
    std::memset(info, 0, sizeof(*info));
    info->cryptokiVersion = {2, 40};
    put_text(info->manufacturerID, "Kelvora");
    put_text(info->libraryDescription, "Kelvora PKCS#11 stand-in");
    info->libraryVersion = {1, 0};
    return CKR_OK;
}

CK_RV token_module::get_slot_list(CK_BBOOL token_present, CK_SLOT_ID* list, CK_ULONG* count)
{
    log_call("C_GetSlotList", std::string(list ? "buffer=" + std::to_string(count ? *count : 0) : "buffer=null"));
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (!count)
        return CKR_ARGUMENTS_BAD;
    if (const CK_RV rv = injected("C_GetSlotList"))
        return rv;
    std::vector<CK_SLOT_ID> ids;
    for (const auto& slot : description_.slots)
        if (!token_present || slot.token_present)
            ids.push_back(slot.id);
    return answer_list(ids, list, count, "C_GetSlotList", nullptr);
}

CK_RV token_module::get_slot_info(CK_SLOT_ID id, CK_SLOT_INFO* info)
{
    log_call("C_GetSlotInfo", "slot=" + std::to_string(id));
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    const slot_description* slot = find_slot(id);
    if (!slot)
        return CKR_SLOT_ID_INVALID;
    if (const CK_RV rv = injected("C_GetSlotInfo", slot))
        return rv;
    if (!info)
        return CKR_ARGUMENTS_BAD;
    std::memset(info, 0, sizeof(*info));
    put_text(info->slotDescription, slot->description, slot->nul_padding ? '\0' : ' ');
    put_text(info->manufacturerID, slot->manufacturer);
    info->flags = CKF_REMOVABLE_DEVICE | CKF_HW_SLOT | (slot->token_present ? CKF_TOKEN_PRESENT : 0);
    return CKR_OK;
}

CK_RV token_module::get_token_info(CK_SLOT_ID id, CK_TOKEN_INFO* info)
{
    log_call("C_GetTokenInfo", "slot=" + std::to_string(id));
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    const slot_description* slot = find_slot(id);
    if (!slot)
        return CKR_SLOT_ID_INVALID;
    if (!slot->token_present)
        return CKR_TOKEN_NOT_PRESENT;
    if (const CK_RV rv = injected("C_GetTokenInfo", slot))
        return rv;
    if (!info)
        return CKR_ARGUMENTS_BAD;
    std::memset(info, 0, sizeof(*info));
    put_text(info->label, slot->label);
    put_text(info->manufacturerID, slot->manufacturer);
    put_text(info->model, slot->model);
    put_text(info->serialNumber, slot->serial);
    info->flags = slot->token_flags;
    info->ulMaxSessionCount = CK_EFFECTIVELY_INFINITE;
    info->ulMaxRwSessionCount = CK_EFFECTIVELY_INFINITE;
    info->ulMaxPinLen = 32;
    info->ulMinPinLen = 4;
    info->ulTotalPublicMemory = slot->total_memory;
    info->ulFreePublicMemory = slot->free_memory;
    info->ulTotalPrivateMemory = info->ulFreePrivateMemory = CK_UNAVAILABLE_INFORMATION;
    info->hardwareVersion = slot->hardware_version;
    info->firmwareVersion = {1, 0};
    return CKR_OK;
}

CK_RV token_module::get_mechanism_list(CK_SLOT_ID id, CK_MECHANISM_TYPE* list, CK_ULONG* count)
{
    log_call("C_GetMechanismList",
             "slot=" + std::to_string(id) + (list ? " buffer=" + std::to_string(count ? *count : 0) : " buffer=null"));
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    const slot_description* slot = find_slot(id);
    if (!slot)
        return CKR_SLOT_ID_INVALID;
    if (!slot->token_present)
        return CKR_TOKEN_NOT_PRESENT;
    if (const CK_RV rv = injected("C_GetMechanismList", slot))
        return rv;
    if (!count)
        return CKR_ARGUMENTS_BAD;
    return answer_list(slot->mechanisms, list, count, "C_GetMechanismList", slot);
}

CK_RV token_module::open_session(CK_SLOT_ID id, CK_FLAGS flags, CK_SESSION_HANDLE* handle)
{
    log_call("C_OpenSession", "slot=" + std::to_string(id) + " flags=" + number_text(flags));
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    std::size_t index = 0;
    const slot_description* slot = find_slot(id, &index);
    if (!slot)
        return CKR_SLOT_ID_INVALID;
    if (!slot->token_present)
        return CKR_TOKEN_NOT_PRESENT;
    if (const CK_RV rv = injected("C_OpenSession", slot))
        return rv;
    if (!(flags & CKF_SERIAL_SESSION))
        return CKR_SESSION_PARALLEL_NOT_SUPPORTED;
    if (!handle)
        return CKR_ARGUMENTS_BAD;
    session_state session;
    session.slot = index;
    session.flags = flags;
    *handle = next_session_++;
    sessions_[*handle] = session;
    log_call("C_OpenSession", "session=" + std::to_string(*handle));
    return CKR_OK;
}

CK_RV token_module::close_session(CK_SESSION_HANDLE handle)
{
    log_call("C_CloseSession", "session=" + std::to_string(handle));
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    session_state* session = find_session(handle);
    if (!session)
        return CKR_SESSION_HANDLE_INVALID;
    const std::size_t slot = session->slot;
    sessions_.erase(handle);
    // The token's login ends with its last session.
    const bool others = std::any_of(sessions_.begin(), sessions_.end(),
                                    [slot](const auto& entry) { return entry.second.slot == slot; });
    if (!others)
        logged_in_[slot] = false;
    return CKR_OK;
}

CK_RV token_module::close_all_sessions(CK_SLOT_ID id)
{
    log_call("C_CloseAllSessions", "slot=" + std::to_string(id));
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    std::size_t index = 0;
    if (!find_slot(id, &index))
        return CKR_SLOT_ID_INVALID;
    for (auto it = sessions_.begin(); it != sessions_.end();)
        it = it->second.slot == index ? sessions_.erase(it) : std::next(it);
    logged_in_[index] = false;
    return CKR_OK;
}

CK_RV token_module::get_session_info(CK_SESSION_HANDLE handle, CK_SESSION_INFO* info)
{
    log_call("C_GetSessionInfo", "session=" + std::to_string(handle));
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    session_state* session = find_session(handle);
    if (!session)
        return CKR_SESSION_HANDLE_INVALID;
    const slot_description& slot = description_.slots[session->slot];
    if (const CK_RV rv = injected("C_GetSessionInfo", &slot))
        return rv;
    if (!info)
        return CKR_ARGUMENTS_BAD;
    const bool read_write = session->flags & CKF_RW_SESSION;
    info->slotID = slot.id;
    if (logged_in_[session->slot])
        info->state = read_write ? CKS_RW_USER_FUNCTIONS : CKS_RO_USER_FUNCTIONS;
    else
        info->state = read_write ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION;
    info->flags = session->flags;
    info->ulDeviceError = 0;
    return CKR_OK;
}

CK_RV token_module::login(CK_SESSION_HANDLE handle, CK_USER_TYPE user, CK_UTF8CHAR* pin, CK_ULONG length)
{
    const std::string given = pin ? std::string(reinterpret_cast<const char*>(pin), length) : std::string();
    log_call("C_Login", "session=" + std::to_string(handle) + " user=" + std::to_string(user) +
                            (pin ? " pin=" + given : " pin=null") + " length=" + std::to_string(length));
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    session_state* session = find_session(handle);
    if (!session)
        return CKR_SESSION_HANDLE_INVALID;
    const slot_description& slot = description_.slots[session->slot];
    if (const CK_RV rv = injected("C_Login", &slot))
        return rv;
    if (user != CKU_USER)
        return CKR_USER_TYPE_INVALID;
    if (logged_in_[session->slot])
        return CKR_USER_ALREADY_LOGGED_IN;
    if (!pin && length != 0)
        return CKR_ARGUMENTS_BAD;
    if (given != slot.pin)
        return CKR_PIN_INCORRECT;
    logged_in_[session->slot] = true;
    return CKR_OK;
}

CK_RV token_module::logout(CK_SESSION_HANDLE handle)
{
    log_call("C_Logout", "session=" + std::to_string(handle));
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    session_state* session = find_session(handle);
    if (!session)
        return CKR_SESSION_HANDLE_INVALID;
    if (const CK_RV rv = injected("C_Logout", &description_.slots[session->slot]))
        return rv;
    if (!logged_in_[session->slot])
        return CKR_USER_NOT_LOGGED_IN;
    logged_in_[session->slot] = false;
    return CKR_OK;
}

CK_RV token_module::get_attribute_value(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object, CK_ATTRIBUTE* attributes,
                                        CK_ULONG count)
{
    std::string asked;
    for (CK_ULONG i = 0; attributes && i < count; ++i)
        asked += " " + attribute_text(attributes[i].type) +
                 (attributes[i].pValue ? "=buffer" + std::to_string(attributes[i].ulValueLen) : "=null");
    log_call("C_GetAttributeValue", "session=" + std::to_string(handle) + " object=" + number_text(object) + asked);
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    session_state* session = find_session(handle);
    if (!session)
        return CKR_SESSION_HANDLE_INVALID;
    const slot_description* slot = &description_.slots[session->slot];
    if (const CK_RV rv = injected("C_GetAttributeValue", slot))
        return rv;
    const object_description* found = find_object(*session, object);
    if (!found)
        return CKR_OBJECT_HANDLE_INVALID;
    if (!attributes && count)
        return CKR_ARGUMENTS_BAD;
    CK_RV result = CKR_OK;
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_ATTRIBUTE& attribute = attributes[i];
        if (found->unavailable.count(attribute.type)) {
            attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            continue;
        }
        const auto value = found->attributes.find(attribute.type);
        if (value == found->attributes.end()) {
            attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            result = CKR_ATTRIBUTE_TYPE_INVALID;
            continue;
        }
        const auto length = static_cast<CK_ULONG>(value->second.size());
        if (!attribute.pValue) {
            attribute.ulValueLen = length + pad_query("C_GetAttributeValue", slot);
        } else if (attribute.ulValueLen < length) {
            attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            result = CKR_BUFFER_TOO_SMALL;
        } else {
            std::memcpy(attribute.pValue, value->second.data(), length);
            attribute.ulValueLen = length + overstate("C_GetAttributeValue", slot);
        }
    }
    return result;
}

CK_RV token_module::find_objects_init(CK_SESSION_HANDLE handle, CK_ATTRIBUTE* criteria, CK_ULONG count)
{
    std::string asked;
    for (CK_ULONG i = 0; criteria && i < count; ++i)
        asked += " " + attribute_text(criteria[i].type) + "=" + hex(criteria[i].pValue, criteria[i].ulValueLen);
    log_call("C_FindObjectsInit", "session=" + std::to_string(handle) + asked);
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    session_state* session = find_session(handle);
    if (!session)
        return CKR_SESSION_HANDLE_INVALID;
    if (const CK_RV rv = injected("C_FindObjectsInit", &description_.slots[session->slot]))
        return rv;
    if (session->finding)
        return CKR_OPERATION_ACTIVE;
    if (!criteria && count)
        return CKR_ARGUMENTS_BAD;
    session->matches.clear();
    session->next_match = 0;
    const auto& objects = description_.slots[session->slot].objects;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        if (!visible(*session, objects[i]))
            continue;
        bool match = true;
        for (CK_ULONG c = 0; match && c < count; ++c) {
            const auto value = objects[i].attributes.find(criteria[c].type);
            const auto* wanted = static_cast<const std::uint8_t*>(criteria[c].pValue);
            match = value != objects[i].attributes.end() && value->second.size() == criteria[c].ulValueLen &&
                    std::equal(value->second.begin(), value->second.end(), wanted);
        }
        if (match)
            session->matches.push_back(object_handle(session->slot, i));
    }
    session->finding = true;
    return CKR_OK;
}

CK_RV token_module::find_objects(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE* objects, CK_ULONG max, CK_ULONG* found)
{
    log_call("C_FindObjects", "session=" + std::to_string(handle) + " max=" + std::to_string(max));
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    session_state* session = find_session(handle);
    if (!session)
        return CKR_SESSION_HANDLE_INVALID;
    const slot_description* slot = &description_.slots[session->slot];
    if (const CK_RV rv = injected("C_FindObjects", slot))
        return rv;
    if (!session->finding)
        return CKR_OPERATION_NOT_INITIALIZED;
    if (!objects || !found)
        return CKR_ARGUMENTS_BAD;
    CK_ULONG given = 0;
    while (given < max && session->next_match < session->matches.size()) {
        objects[given++] = session->matches[session->next_match++];
        if (slot->endless_search && session->next_match == session->matches.size())
            session->next_match = 0;
    }
    *found = given ? given + overstate("C_FindObjects", slot) : 0;
    return CKR_OK;
}

CK_RV token_module::find_objects_final(CK_SESSION_HANDLE handle)
{
    log_call("C_FindObjectsFinal", "session=" + std::to_string(handle));
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    session_state* session = find_session(handle);
    if (!session)
        return CKR_SESSION_HANDLE_INVALID;
    if (!session->finding)
        return CKR_OPERATION_NOT_INITIALIZED;
    session->finding = false;
    return CKR_OK;
}

CK_RV token_module::sign_init(CK_SESSION_HANDLE handle, CK_MECHANISM* mechanism, CK_OBJECT_HANDLE key)
{
    std::string key_id;
    if (session_state* session = find_session(handle)) {
        const object_description* object = initialized_ ? find_object(*session, key) : nullptr;
        if (object && object->attributes.count(CKA_ID)) {
            const auto& id = object->attributes.at(CKA_ID);
            key_id = " key_id=" + hex(id.data(), static_cast<unsigned long>(id.size()));
        }
    }
    log_call("C_SignInit", "session=" + std::to_string(handle) +
                               (mechanism ? " mechanism=" + number_text(mechanism->mechanism) +
                                                " parameter=" + std::to_string(mechanism->ulParameterLen)
                                          : " mechanism=null") +
                               key_id);
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    session_state* session = find_session(handle);
    if (!session)
        return CKR_SESSION_HANDLE_INVALID;
    const slot_description& slot = description_.slots[session->slot];
    if (const CK_RV rv = injected("C_SignInit", &slot))
        return rv;
    if (session->signing)
        return CKR_OPERATION_ACTIVE;
    if (!mechanism)
        return CKR_ARGUMENTS_BAD;
    if (!logged_in_[session->slot])
        return CKR_USER_NOT_LOGGED_IN;
    const object_description* object = find_object(*session, key);
    if (!object || object->object_class != CKO_PRIVATE_KEY)
        return CKR_KEY_HANDLE_INVALID;
    if (!is_signing_mechanism(mechanism->mechanism) ||
        std::find(slot.mechanisms.begin(), slot.mechanisms.end(), mechanism->mechanism) == slot.mechanisms.end())
        return CKR_MECHANISM_INVALID;
    if (mechanism->pParameter || mechanism->ulParameterLen)
        return CKR_MECHANISM_PARAM_INVALID;
    session->signing = true;
    session->mechanism = mechanism->mechanism;
    session->key = key;
    return CKR_OK;
}

CK_RV token_module::sign(CK_SESSION_HANDLE handle, CK_BYTE* data, CK_ULONG length, CK_BYTE* signature,
                         CK_ULONG* signature_length_out)
{
    log_call("C_Sign", "session=" + std::to_string(handle) + " data=" + hex(data, length) +
                           (signature ? " buffer=" + std::to_string(signature_length_out ? *signature_length_out : 0)
                                      : " buffer=null"));
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    session_state* session = find_session(handle);
    if (!session)
        return CKR_SESSION_HANDLE_INVALID;
    const slot_description* slot = &description_.slots[session->slot];
    if (const CK_RV rv = injected("C_Sign", slot)) {
        session->signing = false;
        return rv;
    }
    if (!session->signing)
        return CKR_OPERATION_NOT_INITIALIZED;
    if ((!data && length) || !signature_length_out) {
        session->signing = false;
        return CKR_ARGUMENTS_BAD;
    }
    const std::size_t wanted = signed_data_length(session->mechanism);
    if (wanted && length != wanted) {
        session->signing = false;
        return CKR_DATA_LEN_RANGE;
    }
    const auto size = static_cast<CK_ULONG>(signature_length(session->mechanism));
    if (!signature) {
        *signature_length_out = size + pad_query("C_Sign", slot);
        return CKR_OK;
    }
    if (*signature_length_out < size) {
        *signature_length_out = size;
        return CKR_BUFFER_TOO_SMALL;
    }
    const object_description* key = find_object(*session, session->key);
    const bytes key_id = key && key->attributes.count(CKA_ID) ? key->attributes.at(CKA_ID) : bytes();
    const bytes value = standin_signature(session->mechanism, key_id, bytes(data, data + length));
    std::memcpy(signature, value.data(), value.size());
    *signature_length_out = size + overstate("C_Sign", slot);
    session->signing = false;
    return CKR_OK;
}

}  // namespace pkcs11_standin
