#pragma once
#include "messages/base_message.h"

// The command classes, one .cpp each, named after the command's wire name.
namespace messages {

#define KELVORA_COMMAND(name)                                              \
    class name : public base_message {                                     \
    public:                                                                \
        command_result execute(const json_tree& arguments) const override; \
    }

KELVORA_COMMAND(version);         // "Version"
KELVORA_COMMAND(version_ex);      // "VersionEx"
KELVORA_COMMAND(compute_hash);    // "ComputeHash"
KELVORA_COMMAND(encrypt_pin);     // "EncryptPin"
KELVORA_COMMAND(decrypt_pin);     // "TryDecryptPin"


#undef KELVORA_COMMAND

// The product version reported by Version and VersionEx.
constexpr const char* product_version = "2.1.0102";

}  // namespace messages
