#pragma once
#include <cstdio>
#include <memory>
#include <string>
#include <unordered_map>

#include "messages/base_message.h"

// The command registry of kelvora_messaging and its request loop.
class message_dispatcher {
public:
    message_dispatcher() = default;
    ~message_dispatcher();
    message_dispatcher(const message_dispatcher&) = delete;
    message_dispatcher& operator=(const message_dispatcher&) = delete;

    // Takes ownership of the command.
    void add(const std::string& name, messages::base_message* command);
    // The command registered under exactly this name, or null.
    const messages::base_message* find(const std::string& name) const;

    // Answers requests until the input ends, a length of 0 arrives or a request
    // names an unregistered command. Returns the process exit status: 0, or 1
    // when a request is too large to accept or the output is broken.
    int run(std::FILE* in = stdin, std::FILE* out = stdout);

private:
    std::unordered_map<std::string, messages::base_message*> commands_;
};

// Fills a registry with every command, in table order.
void register_commands(message_dispatcher& dispatcher);
