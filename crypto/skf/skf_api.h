#pragma once
// The SKF device interface of GM/T 0016 as the system calls it: the types,
// structures, result codes and entry-point signatures, declared from the
// standard's published prototypes. Every entry point is stdcall on Windows
// and exported by its undecorated name.
#include <cstdint>

#if defined(_WIN32)
#define KELVORA_SKF_API __stdcall
#else
#define KELVORA_SKF_API
#endif

namespace crypto::skf::api {

using ulong_t = std::uint32_t;  // ULONG
using bool_t = std::int32_t;    // BOOL
using byte_t = std::uint8_t;    // BYTE
using dev_handle = void*;       // DEVHANDLE
using app_handle = void*;       // HAPPLICATION
using container_handle = void*; // HCONTAINER

constexpr bool_t true_value = 1;
constexpr bool_t false_value = 0;

// Result codes.
constexpr ulong_t sar_ok = 0x00000000;
constexpr ulong_t sar_fail = 0x0A000001;
constexpr ulong_t sar_invalid_handle = 0x0A000005;
constexpr ulong_t sar_invalid_param = 0x0A000006;
constexpr ulong_t sar_cert_not_found = 0x0A00001C;
constexpr ulong_t sar_buffer_too_small = 0x0A000020;
constexpr ulong_t sar_device_removed = 0x0A000023;
constexpr ulong_t sar_pin_incorrect = 0x0A000024;
constexpr ulong_t sar_pin_locked = 0x0A000025;
constexpr ulong_t sar_user_already_logged_in = 0x0A000028;
constexpr ulong_t sar_user_not_logged_in = 0x0A00002D;
constexpr ulong_t sar_application_not_exists = 0x0A00002E;

// PIN types of SKF_VerifyPIN.
constexpr ulong_t admin_pin = 0;
constexpr ulong_t user_pin = 1;

// Container types of SKF_GetContainerType.
constexpr ulong_t container_unset = 0;
constexpr ulong_t container_rsa = 1;
constexpr ulong_t container_ecc = 2;

#pragma pack(push, 1)
struct version {
    byte_t major;
    byte_t minor;
};

struct dev_info {
    version struct_version;
    char manufacturer[64];
    char issuer[64];
    char label[32];
    char serial_number[32];
    version hw_version;
    version firmware_version;
    ulong_t alg_sym_cap;
    ulong_t alg_asym_cap;
    ulong_t alg_hash_cap;
    ulong_t dev_auth_alg_id;
    ulong_t total_space;
    ulong_t free_space;
    ulong_t max_ecc_buffer_size;
    ulong_t max_buffer_size;
    byte_t reserved[64];
};

constexpr int max_rsa_modulus_len = 256;
constexpr int max_rsa_exponent_len = 4;

struct rsa_public_key_blob {
    ulong_t alg_id;
    ulong_t bit_len;
    byte_t modulus[max_rsa_modulus_len];
    byte_t public_exponent[max_rsa_exponent_len];
};
#pragma pack(pop)

static_assert(sizeof(dev_info) == 2 + 64 + 64 + 32 + 32 + 2 + 2 + 8 * 4 + 64, "DEVINFO is packed");
static_assert(sizeof(rsa_public_key_blob) == 4 + 4 + max_rsa_modulus_len + max_rsa_exponent_len,
              "RSAPUBLICKEYBLOB is packed");

// The entry points, in the order in which the system binds them.
using enum_dev_fn = ulong_t(KELVORA_SKF_API*)(bool_t present, char* name_list, ulong_t* size);
using connect_dev_fn = ulong_t(KELVORA_SKF_API*)(char* name, dev_handle* device);
using disconnect_dev_fn = ulong_t(KELVORA_SKF_API*)(dev_handle device);
using get_dev_info_fn = ulong_t(KELVORA_SKF_API*)(dev_handle device, dev_info* info);
using verify_pin_fn = ulong_t(KELVORA_SKF_API*)(app_handle application, ulong_t pin_type, char* pin,
                                                ulong_t* retry_count);
using enum_application_fn = ulong_t(KELVORA_SKF_API*)(dev_handle device, char* name_list, ulong_t* size);
using open_application_fn = ulong_t(KELVORA_SKF_API*)(dev_handle device, char* name, app_handle* application);
using close_application_fn = ulong_t(KELVORA_SKF_API*)(app_handle application);
using enum_container_fn = ulong_t(KELVORA_SKF_API*)(app_handle application, char* name_list, ulong_t* size);
using open_container_fn = ulong_t(KELVORA_SKF_API*)(app_handle application, char* name,
                                                    container_handle* container);
using close_container_fn = ulong_t(KELVORA_SKF_API*)(container_handle container);
using get_container_type_fn = ulong_t(KELVORA_SKF_API*)(container_handle container, ulong_t* type);
using export_certificate_fn = ulong_t(KELVORA_SKF_API*)(container_handle container, bool_t sign_flag,
                                                        byte_t* certificate, ulong_t* length);
using rsa_sign_data_fn = ulong_t(KELVORA_SKF_API*)(container_handle container, byte_t* data, ulong_t data_length,
                                                   byte_t* signature, ulong_t* signature_length);
using export_public_key_fn = ulong_t(KELVORA_SKF_API*)(container_handle container, bool_t sign_flag, byte_t* blob,
                                                       ulong_t* blob_length);
using rsa_verify_fn = ulong_t(KELVORA_SKF_API*)(dev_handle device, rsa_public_key_blob* public_key, byte_t* data,
                                                ulong_t data_length, byte_t* signature, ulong_t signature_length);

}  // namespace crypto::skf::api
