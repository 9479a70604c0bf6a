#pragma once
#include "activex/request_handler.h"

// The process-wide command table of the control: every command in table
// order, built by a static initialiser when the library loads and only read
// afterwards, shared by all CPlugin objects. The command objects are never
// deleted.
extern const activex::command_map command_table;
