#pragma once
#include "messages/command_result.h"

namespace messages {

// One command of the plug-in. Commands hold no data: one object serves every
// request for the life of the process. Failures are std::exception subclasses.
class base_message {
public:
    virtual ~base_message() = default;
    virtual command_result execute(const json_tree& arguments) const = 0;
};

}  // namespace messages
