#include "activex/command_table.h"

#include "messages/command_table.h"

namespace {

activex::command_map build_command_table()
{
    activex::command_map table;
    for (auto& row : messages::make_commands())
        table.emplace(std::move(row.first), row.second.release());
    return table;
}

}  // namespace

const activex::command_map command_table = build_command_table();
