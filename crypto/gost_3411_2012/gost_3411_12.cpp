#include "crypto/gost_3411_2012/gost_3411_12.h"

#include "crypto/gost_3411_2012/streebog.h"
#include "crypto/secure_wipe.h"

namespace crypto {

gost_3411_12::gost_3411_12() = default;

gost_3411_12::~gost_3411_12()
{
    // The state holds the sum of the message blocks: for a short message (the
    // random bytes a session key is made from) the message itself.
    if (state_) secure_wipe(state_.get(), sizeof *state_);
}

void gost_3411_12::init()
{
    if (!state_) state_ = std::make_unique<streebog_state>();
    streebog_start(*state_, static_cast<std::uint32_t>(8 * size()));
}

void gost_3411_12::update(const void* data, std::uint32_t length)
{
    if (data == nullptr || length == 0) return;
    // A caller that skipped init() gets a fresh digest rather than a null state.
    if (!state_) init();
    streebog_update_blocks(*state_, static_cast<const std::uint8_t*>(data), length);
}

byte_vector gost_3411_12::final()
{
    if (!state_) init();
    streebog_finish(*state_);
    const int length = size();
    byte_vector digest(static_cast<std::size_t>(length));
    // Bytes of h least significant first; the 256-bit digest is the upper half.
    const int first = 64 - length;
    for (int i = 0; i < length; ++i) {
        const int byte = first + i;
        digest[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(state_->h[byte / 8] >> (8 * (byte % 8)));
    }
    return digest;
}

}  // namespace crypto
