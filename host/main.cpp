// kelvora_messaging: the native-messaging host the browser starts. Requests
// arrive framed on standard input, answers leave framed on standard output.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>

#include "host/command_line.h"
#include "host/framing.h"
#include "host/message_dispatcher.h"

namespace {

// Makes the given window the parent of every CryptoAPI provider dialog.
void set_parent_window(std::uint64_t handle)
{
    DWORD low = static_cast<DWORD>(handle);
    CryptSetProvParam(0, PP_CLIENT_HWND, reinterpret_cast<BYTE*>(&low), 0);
}

}  // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (const auto handle = host::parse_parent_window(argv[i]))
            set_parent_window(*handle);

    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);

    // Commands whose answers grow with what a token gives stop once theirs
    // can no longer reach the browser.
    messages::limit_answers(host::max_answer_size);

    int status = 0;
    {
        message_dispatcher dispatcher;
        register_commands(dispatcher);
        status = dispatcher.run();
    }
    return status;
}
