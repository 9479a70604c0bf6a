#pragma once
#include "messages/json.h"

namespace messages {

// Overwrites every value of the tree with zeros (buffers and spare capacity),
// leaving the values empty: a request's PIN ("pin", "pincode",
// "encrypted_pin") and the rest of its text (the largest value may hold the
// whole request buffer) do not stay in freed memory.
void wipe_values(json_tree& tree);

// Wipes the tree's values when the scope ends, however it ends.
class wipe_values_on_exit {
public:
    explicit wipe_values_on_exit(json_tree& tree) : tree_(tree) {}
    ~wipe_values_on_exit() { wipe_values(tree_); }
    wipe_values_on_exit(const wipe_values_on_exit&) = delete;
    wipe_values_on_exit& operator=(const wipe_values_on_exit&) = delete;

private:
    json_tree& tree_;
};

}  // namespace messages
