#include "host/framing.h"

#include <algorithm>
#include <new>
#include <utility>
#include <vector>

#include "crypto/buffer_sizes.h"
#include "crypto/secure_wipe.h"

namespace host {

read_status read_frame(std::FILE* in, std::string& body)
{
    unsigned char prefix[4];
    if (std::fread(prefix, 1, sizeof prefix, in) != sizeof prefix)
        return read_status::end;
    const std::uint32_t length = std::uint32_t(prefix[0]) | std::uint32_t(prefix[1]) << 8 |
                                 std::uint32_t(prefix[2]) << 16 | std::uint32_t(prefix[3]) << 24;
    if (length == 0)
        return read_status::end;
    if (length > max_request_size)
        return read_status::too_large;

    // The body arrives in pieces of at most 1 MiB and is put together once it
    // is complete: a length that promises more than the input holds costs no
    // more than what really arrived, and the body ends with no spare room.
    constexpr std::size_t chunk = crypto::buffer_sizes::frame_chunk;
    // Every buffer that held part of the body is zeroed before it is freed:
    // the body may carry a PIN.
    std::vector<std::string> pieces;
    std::string whole;
    const auto wipe_all = [&pieces, &whole] {
        for (auto& piece : pieces)
            crypto::secure_wipe(piece);
        crypto::secure_wipe(whole);
    };
    crypto::secure_wipe(body);
    try {
        std::size_t received = 0;
        while (received < length) {
            const std::size_t n = std::min<std::size_t>(chunk, length - received);
            std::string piece(n, '\0');
            if (std::fread(&piece[0], 1, n, in) != n) {
                crypto::secure_wipe(piece);
                wipe_all();
                return read_status::end;
            }
            received += n;
            pieces.push_back(std::move(piece));
        }
        whole.reserve(length);
        for (auto& piece : pieces) {
            whole += piece;
            crypto::secure_wipe(piece);
            std::string().swap(piece);
        }
        body.swap(whole);
    } catch (const std::bad_alloc&) {
        wipe_all();
        std::string().swap(body);
        return read_status::no_memory;
    }
    return read_status::message;
}

void write_frame(std::FILE* out, const std::string& text)
{
    const auto length = static_cast<std::uint32_t>(text.size());
    std::string frame;
    frame.reserve(4 + text.size());
    frame.push_back(static_cast<char>(length & 0xFF));
    frame.push_back(static_cast<char>(length >> 8 & 0xFF));
    frame.push_back(static_cast<char>(length >> 16 & 0xFF));
    frame.push_back(static_cast<char>(length >> 24 & 0xFF));
    frame += text;
    if (std::fwrite(frame.data(), 1, frame.size(), out) != frame.size() || std::fflush(out) != 0)
        throw output_error("write error");
}

}  // namespace host
