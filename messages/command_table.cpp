#include "messages/command_table.h"

#include "messages/commands.h"

namespace messages {

std::vector<command_row> make_commands()
{
    std::vector<command_row> rows;
    auto add = [&rows](const char* name, base_message* command) {
        rows.emplace_back(name, std::unique_ptr<base_message>(command));
    };
    add("Version", new version);
    add("VersionEx", new version_ex);
    add("ComputeHash", new compute_hash);
    add("EncryptPin", new encrypt_pin);
    add("TryDecryptPin", new decrypt_pin);
    return rows;
}

}  // namespace messages
