#include "messages/wipe_tree.h"

#include "crypto/secure_wipe.h"

namespace messages {

void wipe_values(json_tree& tree)
{
    // The depth is bounded by the reader's nesting limit.
    crypto::secure_wipe(tree.data());
    for (auto& child : tree)
        wipe_values(child.second);
}

}  // namespace messages
