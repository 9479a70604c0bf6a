#pragma once
// Constants of the test GOST provider, shared by the provider DLL, its fixture
// tool and the tests. The algorithm identifiers and blob magics are the public
// constants of the GOST CryptoAPI conventions; the names and the reader are
// this stand-in's own.
#include <cstddef>
#include <cstdint>

namespace gost_standin {

// Algorithm identifiers.
constexpr std::uint32_t calg_gr3411 = 0x801E;
constexpr std::uint32_t calg_gr3411_2012_256 = 0x8021;
constexpr std::uint32_t calg_gr3411_2012_512 = 0x8022;
constexpr std::uint32_t calg_gr3410el = 0x2E23;
constexpr std::uint32_t calg_gr3410_12_256 = 0x2E49;
constexpr std::uint32_t calg_gr3410_12_512 = 0x2E3D;
constexpr std::uint32_t calg_dh_el_sf = 0xAA24;
constexpr std::uint32_t calg_dh_el_ephem = 0xAA25;
constexpr std::uint32_t calg_dh_gr3410_12_256_sf = 0xAA46;
constexpr std::uint32_t calg_dh_gr3410_12_256_ephem = 0xAA47;
constexpr std::uint32_t calg_dh_gr3410_12_512_sf = 0xAA42;
constexpr std::uint32_t calg_dh_gr3410_12_512_ephem = 0xAA43;
constexpr std::uint32_t calg_g28147 = 0x661E;
constexpr std::uint32_t calg_pro_export = 0x661F;
constexpr std::uint32_t calg_pro12_export = 0x6621;

// Blob layout constants.
constexpr std::uint8_t blob_version = 0x20;
constexpr std::uint32_t public_key_magic = 0x3147414D;  // "MAG1"
constexpr std::uint32_t simple_blob_magic = 0x374A51FD;
constexpr std::size_t simple_blob_ukm_size = 8;
constexpr std::size_t simple_blob_key_size = 32;
constexpr std::size_t simple_blob_mac_size = 4;

// Provider types.
constexpr std::uint32_t prov_gost_2001 = 75;
constexpr std::uint32_t prov_gost_2012_256 = 80;
constexpr std::uint32_t prov_gost_2012_512 = 81;

// The second provider family's types for the same three key families.
constexpr std::uint32_t prov_family2_2001 = 2;
constexpr std::uint32_t prov_family2_2012_256 = 77;
constexpr std::uint32_t prov_family2_2012_512 = 78;

// Names under which the fixture registers the three providers.
constexpr const char* provider_name_2001 = "Kelvora Test GOST R 34.10-2001 Provider";
constexpr const char* provider_name_2012_256 = "Kelvora Test GOST R 34.10-2012 (256) Provider";
constexpr const char* provider_name_2012_512 = "Kelvora Test GOST R 34.10-2012 (512) Provider";

constexpr const char* family2_name_2001 = "Kelvora Test Family-2 GOST R 34.10-2001 Provider";
constexpr const char* family2_name_2012_256 = "Kelvora Test Family-2 GOST R 34.10-2012 (256) Provider";
constexpr const char* family2_name_2012_512 = "Kelvora Test Family-2 GOST R 34.10-2012 (512) Provider";

// Provider settings the fixture's "register" writes and the provider reads:
// under each provider's key, its PP_VERSION (DWORD, major << 8 | minor); under
// the settings key, the number of calls of provider parameter 8 that still
// fail with SCARD_W_WRONG_CHV (counted down) and the answer after them.
constexpr const wchar_t* version_value = L"KelvoraVersion";
constexpr const wchar_t* settings_key = L"Software\\Kelvora\\TestGostCsp";
constexpr const wchar_t* wrong_pin_calls_value = L"WrongPinCalls";
constexpr const wchar_t* pin_check_result_value = L"PinCheckResult";

// PP_SMARTCARD_READER of containers made "on a reader"; a container name of
// the form \\.\<reader>\<name> puts a new container there.
constexpr const char* reader_name = "Kelvora Test Reader 0";
// The pseudo reader of containers that are not on a reader (unique names).
constexpr const char* store_pseudo_reader = "KELVORA_STORE";

// Environment variables read by the provider only.
constexpr const char* state_path_variable = "KELVORA_GOST_CSP_STATE";
// When set, a PIN prompt is answered with this text instead of being cancelled.
constexpr const char* prompt_pin_variable = "KELVORA_GOST_CSP_PROMPT_PIN";
// Default state file inside the Wine prefix.
constexpr const wchar_t* default_state_path = L"C:\\kelvora-gost-csp\\containers.txt";

// Name of the provider DLL, beside the fixture in the build folder.
constexpr const wchar_t* provider_dll_name = L"kelvora_test_gost_csp.dll";
// Entry points of the DLL that crypt32 calls for GOST public keys.
constexpr const char* import_public_key_function = "KelvoraGostImportPublicKeyInfoEx";
constexpr const char* export_public_key_function = "KelvoraGostExportPublicKeyInfoEx";
// The function crypt32's CryptExportPublicKeyInfo looks up for a key's OID.
constexpr const char* encode_public_key_function = "KelvoraGostEncodePublicKeyAndParameters";

}  // namespace gost_standin
