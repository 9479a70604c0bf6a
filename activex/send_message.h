#pragma once
#include <windows.h>
#include <oleauto.h>

#include "activex/request_handler.h"

namespace activex {

// The body of IPlugin::SendMessage against a command table. S_OK with the
// answer in *response (when response is not null; a null response still runs
// the command and drops the answer). A failed request or an answer that
// cannot be written or converted returns DISP_E_EXCEPTION with error
// information and leaves *response as it was. Nothing is thrown.
HRESULT send_message(const command_map& commands, BSTR message, BSTR* response);

}  // namespace activex
