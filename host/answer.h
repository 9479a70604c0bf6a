#pragma once
#include <cstdio>
#include <exception>
#include <string>

#include "messages/command_result.h"

namespace host {

// Answers as the native-messaging host writes them: compact JSON without the
// writer's line feed, framed, one write and a flush. An answer longer than a
// browser accepts throws std::length_error before anything is written.
void write_message(std::FILE* out, const messages::json_tree& answer);
void send_success(std::FILE* out, const messages::command_result& result, const std::string& id);
void send_failure(std::FILE* out, const std::exception& error, const std::string& id);

}  // namespace host
