#include "crypto/skf/skf_module.h"

#include <windows.h>

#include <algorithm>

#include "crypto/skf/digest_info.h"
#include "crypto/skf/library_path.h"
#include "crypto/skf/multi_string.h"
#include "crypto/util/written_part.h"

namespace crypto::skf {
namespace {

constexpr api::ulong_t no_type_written = 0xFFFFFFFF;

template <class Function>
bool bind(HMODULE library, const char* name, Function& slot)
{
    const FARPROC address = GetProcAddress(library, name);
    if (!address)
        return false;
    slot = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
    return true;
}

bool bind_all(HMODULE library, entry_points& entry)
{
    return bind(library, "SKF_EnumDev", entry.enum_dev) && bind(library, "SKF_ConnectDev", entry.connect_dev) &&
           bind(library, "SKF_DisConnectDev", entry.disconnect_dev) &&
           bind(library, "SKF_GetDevInfo", entry.get_dev_info) && bind(library, "SKF_VerifyPIN", entry.verify_pin) &&
           bind(library, "SKF_EnumApplication", entry.enum_application) &&
           bind(library, "SKF_OpenApplication", entry.open_application) &&
           bind(library, "SKF_CloseApplication", entry.close_application) &&
           bind(library, "SKF_EnumContainer", entry.enum_container) &&
           bind(library, "SKF_OpenContainer", entry.open_container) &&
           bind(library, "SKF_CloseContainer", entry.close_container) &&
           bind(library, "SKF_GetContainerType", entry.get_container_type) &&
           bind(library, "SKF_ExportCertificate", entry.export_certificate) &&
           bind(library, "SKF_RSASignData", entry.rsa_sign_data) &&
           bind(library, "SKF_ExportPublicKey", entry.export_public_key) &&
           bind(library, "SKF_RSAVerify", entry.rsa_verify);
}

// The library's two-call protocol: a size query with no buffer, then the
// call with a zero-filled buffer of that size. The result holds what the
// second call says it wrote, never more than the buffer, and keeps no more
// memory than that; empty when either call fails, the size is 0 or above
// bound. A size above bound is not allocated; it is told through refused.
template <class Byte, class Call>
std::vector<Byte> read_sized(Call call, std::size_t bound, std::size_t* refused = nullptr)
{
    api::ulong_t size = 0;
    if (call(nullptr, &size) != api::sar_ok || size == 0)
        return {};
    if (size > bound) {
        if (refused)
            *refused = size;
        return {};
    }
    std::vector<Byte> buffer(size, Byte(0));
    api::ulong_t written = size;
    if (call(buffer.data(), &written) != api::sar_ok)
        return {};
    util::keep_written(buffer, written);
    return buffer;
}

template <class Call>
std::vector<std::string> read_names(Call call)
{
    const auto list = read_sized<char>(call, max_name_list_size);
    return split_multi_string(list.data(), list.size());
}

}  // namespace

std::vector<char> c_text(const std::string& text)
{
    std::vector<char> copy(text.begin(), text.end());
    copy.push_back('\0');
    return copy;
}

SkfModule::~SkfModule()
{
    if (library_)
        FreeLibrary(static_cast<HMODULE>(library_));
}

bool SkfModule::load()
{
    if (library_)
        return true;
    const HMODULE library = LoadLibraryA(library_path);
    if (!library)
        return false;
    entry_points bound;
    if (!bind_all(library, bound)) {
        FreeLibrary(library);
        return false;
    }
    library_ = library;
    entry_ = bound;
    return true;
}

std::vector<std::string> SkfModule::enum_devices() const
{
    if (!entry_.enum_dev)
        return {};
    return read_names([this](char* buffer, api::ulong_t* size) {
        return entry_.enum_dev(api::true_value, buffer, size);
    });
}

std::vector<std::string> SkfModule::enum_applications(api::dev_handle device) const
{
    if (!entry_.enum_application)
        return {};
    return read_names([this, device](char* buffer, api::ulong_t* size) {
        return entry_.enum_application(device, buffer, size);
    });
}

std::vector<std::string> SkfModule::enum_containers(api::app_handle application) const
{
    if (!entry_.enum_container)
        return {};
    return read_names([this, application](char* buffer, api::ulong_t* size) {
        return entry_.enum_container(application, buffer, size);
    });
}

pin_result SkfModule::verify_pin(api::app_handle application, const std::string& pin) const
{
    pin_result result;
    if (!entry_.verify_pin)
        return result;
    auto text = c_text(pin);
    const api::ulong_t code = entry_.verify_pin(application, api::user_pin, text.data(), &result.retry_count);
    SecureZeroMemory(text.data(), text.size());
    result.success = code == api::sar_ok || code == api::sar_user_already_logged_in;
    if (result.success)
        result.retry_count = 0;
    return result;
}

api::ulong_t SkfModule::container_type(api::container_handle container) const
{
    api::ulong_t type = no_type_written;
    if (entry_.get_container_type)
        entry_.get_container_type(container, &type);  // only the type written counts
    return type;
}

byte_vector SkfModule::export_signing_certificate(api::container_handle container, std::size_t limit,
                                                  std::size_t* refused) const
{
    if (!entry_.export_certificate)
        return {};
    return read_sized<std::uint8_t>(
        [this, container](api::byte_t* buffer, api::ulong_t* length) {
            return entry_.export_certificate(container, api::true_value, buffer, length);
        },
        std::min(limit, max_certificate_size), refused);
}

byte_vector SkfModule::rsa_sign(api::container_handle container, const byte_vector& hash) const
{
    auto info = make_digest_info(hash);
    if (info.empty() || !entry_.rsa_sign_data)
        return {};
    const auto info_length = static_cast<api::ulong_t>(info.size());
    return read_sized<std::uint8_t>(
        [this, container, &info, info_length](api::byte_t* buffer, api::ulong_t* length) {
            return entry_.rsa_sign_data(container, info.data(), info_length, buffer, length);
        },
        max_signature_size);
}

}  // namespace crypto::skf
