// The 16 GM/T 0016 functions of the test SKF library, exported undecorated
// through the module definition files. Each call is logged when the
// description names a log file.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <type_traits>

#include "crypto/skf/skf_api.h"
#include "signature_scheme.h"
#include "standin_state.h"

namespace api = crypto::skf::api;
using api::ulong_t;

#define KELVORA_SKF_EXPORT extern "C" ulong_t KELVORA_SKF_API

KELVORA_SKF_EXPORT SKF_EnumDev(api::bool_t present, char* name_list, ulong_t* size);
KELVORA_SKF_EXPORT SKF_ConnectDev(char* name, api::dev_handle* device);
KELVORA_SKF_EXPORT SKF_DisConnectDev(api::dev_handle device);
KELVORA_SKF_EXPORT SKF_GetDevInfo(api::dev_handle device, api::dev_info* info);
KELVORA_SKF_EXPORT SKF_VerifyPIN(api::app_handle application, ulong_t pin_type, char* pin, ulong_t* retry_count);
KELVORA_SKF_EXPORT SKF_EnumApplication(api::dev_handle device, char* name_list, ulong_t* size);
KELVORA_SKF_EXPORT SKF_OpenApplication(api::dev_handle device, char* name, api::app_handle* application);
KELVORA_SKF_EXPORT SKF_CloseApplication(api::app_handle application);
KELVORA_SKF_EXPORT SKF_EnumContainer(api::app_handle application, char* name_list, ulong_t* size);
KELVORA_SKF_EXPORT SKF_OpenContainer(api::app_handle application, char* name, api::container_handle* container);
KELVORA_SKF_EXPORT SKF_CloseContainer(api::container_handle container);
KELVORA_SKF_EXPORT SKF_GetContainerType(api::container_handle container, ulong_t* type);
KELVORA_SKF_EXPORT SKF_ExportCertificate(api::container_handle container, api::bool_t sign_flag, api::byte_t* data,
                                         ulong_t* length);
KELVORA_SKF_EXPORT SKF_RSASignData(api::container_handle container, api::byte_t* data, ulong_t data_length,
                                   api::byte_t* signature, ulong_t* signature_length);
KELVORA_SKF_EXPORT SKF_ExportPublicKey(api::container_handle container, api::bool_t sign_flag, api::byte_t* blob,
                                       ulong_t* blob_length);
KELVORA_SKF_EXPORT SKF_RSAVerify(api::dev_handle device, api::rsa_public_key_blob* public_key, api::byte_t* data,
                                 ulong_t data_length, api::byte_t* signature, ulong_t signature_length);

// The exports have exactly the types through which the system calls them.
static_assert(std::is_same_v<decltype(&SKF_EnumDev), api::enum_dev_fn>);
static_assert(std::is_same_v<decltype(&SKF_ConnectDev), api::connect_dev_fn>);
static_assert(std::is_same_v<decltype(&SKF_DisConnectDev), api::disconnect_dev_fn>);
static_assert(std::is_same_v<decltype(&SKF_GetDevInfo), api::get_dev_info_fn>);
static_assert(std::is_same_v<decltype(&SKF_VerifyPIN), api::verify_pin_fn>);
static_assert(std::is_same_v<decltype(&SKF_EnumApplication), api::enum_application_fn>);
static_assert(std::is_same_v<decltype(&SKF_OpenApplication), api::open_application_fn>);
static_assert(std::is_same_v<decltype(&SKF_CloseApplication), api::close_application_fn>);
static_assert(std::is_same_v<decltype(&SKF_EnumContainer), api::enum_container_fn>);
static_assert(std::is_same_v<decltype(&SKF_OpenContainer), api::open_container_fn>);
static_assert(std::is_same_v<decltype(&SKF_CloseContainer), api::close_container_fn>);
static_assert(std::is_same_v<decltype(&SKF_GetContainerType), api::get_container_type_fn>);
static_assert(std::is_same_v<decltype(&SKF_ExportCertificate), api::export_certificate_fn>);
static_assert(std::is_same_v<decltype(&SKF_RSASignData), api::rsa_sign_data_fn>);
static_assert(std::is_same_v<decltype(&SKF_ExportPublicKey), api::export_public_key_fn>);
static_assert(std::is_same_v<decltype(&SKF_RSAVerify), api::rsa_verify_fn>);

namespace {

using namespace skf_standin;

std::string hex(const api::byte_t* data, std::size_t length)
{
    std::string text;
    char two[3];
    for (std::size_t i = 0; i < length; ++i) {
        std::snprintf(two, sizeof(two), "%02X", data[i]);
        text += two;
    }
    return text;
}

std::string size_details(const void* buffer, const ulong_t* size)
{
    return std::string("buffer=") + (buffer ? "yes" : "no") + " size=" + (size ? std::to_string(*size) : "null");
}

ulong_t done(const char* function, const std::string& target, const std::string& details, ulong_t code)
{
    state::get().log(function, target, details, code);
    return code;
}

// The two-call protocol over data, with the object's quirks of function.
ulong_t write_sized(const bytes& data, const scope& object, const std::string& function, api::byte_t* buffer,
                    ulong_t* size)
{
    const auto needed = static_cast<ulong_t>(data.size());
    if (!buffer) {
        *size = needed + object.quirk_amount(function, "query_extra");
        return api::sar_ok;
    }
    if (*size < needed) {
        *size = needed;
        return api::sar_buffer_too_small;
    }
    if (!data.empty())
        std::memcpy(buffer, data.data(), data.size());
    *size = needed + object.quirk_amount(function, "written_extra");
    return api::sar_ok;
}

// A name list: each name with its NUL and an empty name at the end, or, with
// the "unterminated" quirk, the names with NULs only between them.
template <class Named>
bytes name_list(const std::vector<Named>& items, bool (*listed)(const Named&), bool unterminated)
{
    bytes list;
    bool first = true;
    for (const auto& item : items) {
        if (!listed(item))
            continue;
        for (std::uint32_t copy = 0; copy < item.copies; ++copy) {
            const std::string name = copy ? item.name + "#" + std::to_string(copy) : item.name;
            if (unterminated && !first)
                list.push_back(0);
            list.insert(list.end(), name.begin(), name.end());
            if (!unterminated)
                list.push_back(0);
            first = false;
        }
    }
    if (!unterminated)
        list.push_back(0);
    return list;
}

template <class Named>
bool always(const Named&)
{
    return true;
}

ulong_t write_names(const bytes& list, const scope& object, const std::string& function, char* buffer,
                    ulong_t* size)
{
    return write_sized(list, object, function, reinterpret_cast<api::byte_t*>(buffer), size);
}

handle_record* application_of(state& s, const handle_record& container)
{
    return s.find(container.parent, handle_kind::application);
}

}  // namespace

KELVORA_SKF_EXPORT SKF_EnumDev(api::bool_t present, char* name_list_buffer, ulong_t* size)
{
    state& s = state::get();
    const char* name = "SKF_EnumDev";
    const std::string details = "present=" + std::to_string(present) + " " + size_details(name_list_buffer, size);
    if (!s.error().empty() || !size)
        return done(name, "", details, !size ? api::sar_invalid_param : api::sar_fail);
    if (!s.model().configured) {
        *size = 0;
        return done(name, "", details, api::sar_ok);
    }
    if (const ulong_t code = s.injected(name, s.model()))
        return done(name, "", details, code);
    bool (*listed)(const device_model&) = present ? +[](const device_model& d) { return d.present; }
                                                  : &always<device_model>;
    const bytes list = name_list(s.model().devices, listed, s.model().has_quirk(name, "unterminated"));
    return done(name, "", details, write_names(list, s.model(), name, name_list_buffer, size));
}

KELVORA_SKF_EXPORT SKF_ConnectDev(char* device_name, api::dev_handle* device)
{
    state& s = state::get();
    const char* name = "SKF_ConnectDev";
    const std::string target = device_name ? device_name : "";
    if (!device_name || !device)
        return done(name, target, "", api::sar_invalid_param);
    *device = nullptr;
    for (auto& model : s.model().devices) {
        if (!is_named(model, target))
            continue;
        if (!model.present)
            break;
        if (const ulong_t code = s.injected(name, model))
            return done(name, target, "", code);
        handle_record record{handle_kind::device};
        record.device = &model;
        *device = s.open(record);
        return done(name, target, "", api::sar_ok);
    }
    return done(name, target, "", api::sar_device_removed);
}

KELVORA_SKF_EXPORT SKF_DisConnectDev(api::dev_handle device)
{
    state& s = state::get();
    const handle_record* record = s.find(device, handle_kind::device);
    if (!record)
        return done("SKF_DisConnectDev", "", "", api::sar_invalid_handle);
    const std::string target = path_of(*record);
    s.close(device);
    return done("SKF_DisConnectDev", target, "", api::sar_ok);
}

KELVORA_SKF_EXPORT SKF_GetDevInfo(api::dev_handle device, api::dev_info* info)
{
    state& s = state::get();
    const handle_record* record = s.find(device, handle_kind::device);
    if (!record || !info)
        return done("SKF_GetDevInfo", "", "", record ? api::sar_invalid_param : api::sar_invalid_handle);
    std::memset(info, 0, sizeof(*info));
    info->struct_version = {1, 0};
    std::strncpy(info->manufacturer, "Kelvora test", sizeof(info->manufacturer) - 1);
    std::strncpy(info->label, record->device->name.c_str(), sizeof(info->label) - 1);
    info->max_buffer_size = 4096;
    return done("SKF_GetDevInfo", path_of(*record), "", api::sar_ok);
}

KELVORA_SKF_EXPORT SKF_VerifyPIN(api::app_handle application, ulong_t pin_type, char* pin, ulong_t* retry_count)
{
    state& s = state::get();
    const char* name = "SKF_VerifyPIN";
    handle_record* record = s.find(application, handle_kind::application);
    if (!record)
        return done(name, "", "", api::sar_invalid_handle);
    const std::string target = path_of(*record);
    const std::string details = "type=" + std::to_string(pin_type) + " pin=" + (pin ? pin : "(null)");
    if (!pin || !retry_count || pin_type != api::user_pin)
        return done(name, target, details, api::sar_invalid_param);
    application_model& model = *record->application;
    if (const ulong_t code = s.injected(name, model)) {
        *retry_count = model.retries;
        return done(name, target, details, code);
    }
    if (model.logged_in) {
        record->verified = true;
        return done(name, target, details, api::sar_user_already_logged_in);
    }
    if (model.retries == 0) {
        *retry_count = 0;
        return done(name, target, details, api::sar_pin_locked);
    }
    if (model.pin == pin) {
        model.retries = model.max_retries;
        record->verified = true;
        return done(name, target, details, api::sar_ok);
    }
    --model.retries;
    *retry_count = model.retries;
    return done(name, target, details, model.retries ? api::sar_pin_incorrect : api::sar_pin_locked);
}

KELVORA_SKF_EXPORT SKF_EnumApplication(api::dev_handle device, char* name_list_buffer, ulong_t* size)
{
    state& s = state::get();
    const char* name = "SKF_EnumApplication";
    const handle_record* record = s.find(device, handle_kind::device);
    if (!record || !size)
        return done(name, "", "", record ? api::sar_invalid_param : api::sar_invalid_handle);
    const std::string target = path_of(*record);
    const std::string details = size_details(name_list_buffer, size);
    const device_model& model = *record->device;
    if (const ulong_t code = s.injected(name, model))
        return done(name, target, details, code);
    const bytes list = name_list(model.applications, &always<application_model>, model.has_quirk(name, "unterminated"));
    return done(name, target, details, write_names(list, model, name, name_list_buffer, size));
}

KELVORA_SKF_EXPORT SKF_OpenApplication(api::dev_handle device, char* application_name, api::app_handle* application)
{
    state& s = state::get();
    const char* name = "SKF_OpenApplication";
    const handle_record* record = s.find(device, handle_kind::device);
    if (!record || !application_name || !application)
        return done(name, "", "", record ? api::sar_invalid_param : api::sar_invalid_handle);
    *application = nullptr;
    const std::string target = path_of(*record) + "\\" + application_name;
    for (auto& model : record->device->applications) {
        if (!is_named(model, application_name))
            continue;
        if (const ulong_t code = s.injected(name, model))
            return done(name, target, "", code);
        handle_record opened{handle_kind::application};
        opened.device = record->device;
        opened.application = &model;
        *application = s.open(opened);
        return done(name, target, "", api::sar_ok);
    }
    return done(name, target, "", api::sar_application_not_exists);
}

KELVORA_SKF_EXPORT SKF_CloseApplication(api::app_handle application)
{
    state& s = state::get();
    const handle_record* record = s.find(application, handle_kind::application);
    if (!record)
        return done("SKF_CloseApplication", "", "", api::sar_invalid_handle);
    const std::string target = path_of(*record);
    s.close(application);
    return done("SKF_CloseApplication", target, "", api::sar_ok);
}

KELVORA_SKF_EXPORT SKF_EnumContainer(api::app_handle application, char* name_list_buffer, ulong_t* size)
{
    state& s = state::get();
    const char* name = "SKF_EnumContainer";
    const handle_record* record = s.find(application, handle_kind::application);
    if (!record || !size)
        return done(name, "", "", record ? api::sar_invalid_param : api::sar_invalid_handle);
    const std::string target = path_of(*record);
    const std::string details = size_details(name_list_buffer, size);
    const application_model& model = *record->application;
    if (const ulong_t code = s.injected(name, model))
        return done(name, target, details, code);
    const bytes list = name_list(model.containers, &always<container_model>, model.has_quirk(name, "unterminated"));
    return done(name, target, details, write_names(list, model, name, name_list_buffer, size));
}

KELVORA_SKF_EXPORT SKF_OpenContainer(api::app_handle application, char* container_name,
                                     api::container_handle* container)
{
    state& s = state::get();
    const char* name = "SKF_OpenContainer";
    const handle_record* record = s.find(application, handle_kind::application);
    if (!record || !container_name || !container)
        return done(name, "", "", record ? api::sar_invalid_param : api::sar_invalid_handle);
    *container = nullptr;
    const std::string target = path_of(*record) + "\\" + container_name;
    for (auto& model : record->application->containers) {
        if (!is_named(model, container_name))
            continue;
        if (const ulong_t code = s.injected(name, model))
            return done(name, target, "", code);
        handle_record opened{handle_kind::container};
        opened.device = record->device;
        opened.application = record->application;
        opened.container = &model;
        opened.parent = application;
        *container = s.open(opened);
        return done(name, target, "", api::sar_ok);
    }
    return done(name, target, "", api::sar_fail);
}

KELVORA_SKF_EXPORT SKF_CloseContainer(api::container_handle container)
{
    state& s = state::get();
    const handle_record* record = s.find(container, handle_kind::container);
    if (!record)
        return done("SKF_CloseContainer", "", "", api::sar_invalid_handle);
    const std::string target = path_of(*record);
    s.close(container);
    return done("SKF_CloseContainer", target, "", api::sar_ok);
}

KELVORA_SKF_EXPORT SKF_GetContainerType(api::container_handle container, ulong_t* type)
{
    state& s = state::get();
    const char* name = "SKF_GetContainerType";
    const handle_record* record = s.find(container, handle_kind::container);
    if (!record || !type)
        return done(name, "", "", record ? api::sar_invalid_param : api::sar_invalid_handle);
    const std::string target = path_of(*record);
    const container_model& model = *record->container;
    // An injected failure still writes the type: callers go by the type alone.
    const ulong_t code = s.injected(name, model);
    if (model.type_written)
        *type = model.type;
    return done(name, target, model.type_written ? "type=" + std::to_string(model.type) : "type=none", code);
}

KELVORA_SKF_EXPORT SKF_ExportCertificate(api::container_handle container, api::bool_t sign_flag, api::byte_t* data,
                                         ulong_t* length)
{
    state& s = state::get();
    const char* name = "SKF_ExportCertificate";
    const handle_record* record = s.find(container, handle_kind::container);
    if (!record || !length)
        return done(name, "", "", record ? api::sar_invalid_param : api::sar_invalid_handle);
    const std::string target = path_of(*record);
    const std::string details = "sign=" + std::to_string(sign_flag) + " " + size_details(data, length);
    const container_model& model = *record->container;
    if (const ulong_t code = s.injected(name, model))
        return done(name, target, details, code);
    if (!sign_flag || model.certificate.empty())
        return done(name, target, details, api::sar_cert_not_found);
    return done(name, target, details, write_sized(model.certificate, model, name, data, length));
}

KELVORA_SKF_EXPORT SKF_RSASignData(api::container_handle container, api::byte_t* data, ulong_t data_length,
                                   api::byte_t* signature, ulong_t* signature_length)
{
    state& s = state::get();
    const char* name = "SKF_RSASignData";
    const handle_record* record = s.find(container, handle_kind::container);
    if (!record || !data || !signature_length)
        return done(name, "", "", record ? api::sar_invalid_param : api::sar_invalid_handle);
    const std::string target = path_of(*record);
    const std::string details = "data=" + hex(data, data_length) + " " + size_details(signature, signature_length);
    const container_model& model = *record->container;
    if (const ulong_t code = s.injected(name, model))
        return done(name, target, details, code);
    const handle_record* application = application_of(s, *record);
    if (!application)
        return done(name, target, details, api::sar_invalid_handle);
    if (!application->verified)
        return done(name, target, details, api::sar_user_not_logged_in);
    const bytes signed_block = scheme_sign(target, model.modulus, bytes(data, data + data_length));
    if (signed_block.empty())
        return done(name, target, details, api::sar_invalid_param);
    return done(name, target, details, write_sized(signed_block, model, name, signature, signature_length));
}

KELVORA_SKF_EXPORT SKF_ExportPublicKey(api::container_handle container, api::bool_t, api::byte_t*, ulong_t*)
{
    const handle_record* record = state::get().find(container, handle_kind::container);
    return done("SKF_ExportPublicKey", record ? path_of(*record) : "", "", api::sar_fail);
}

KELVORA_SKF_EXPORT SKF_RSAVerify(api::dev_handle device, api::rsa_public_key_blob*, api::byte_t*, ulong_t,
                                 api::byte_t*, ulong_t)
{
    const handle_record* record = state::get().find(device, handle_kind::device);
    return done("SKF_RSAVerify", record ? path_of(*record) : "", "", api::sar_fail);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_DETACH) {
        if (const state* s = state::existing())
            s->log_line(std::string(reserved ? "exit" : "unload") + "\topen=" + std::to_string(s->open_handles()));
    }
    return TRUE;
}
