#include "activex/send_message.h"

#include <exception>
#include <new>
#include <string>

#include "activex/error_info.h"
#include "activex/wide_text.h"
#include "crypto/secure_wipe.h"

namespace activex {

HRESULT send_message(const command_map& commands, BSTR message, BSTR* response)
{
    try {
        // On Windows a BSTR holds UTF-16 code units.
        static_assert(sizeof(OLECHAR) == sizeof(char16_t), "OLECHAR is a UTF-16 code unit");
        std::string request = utf16_to_utf8(reinterpret_cast<const char16_t*>(message), SysStringLen(message));
        const crypto::wipe_on_exit<std::string> wipe_request(request);  // it may hold a PIN
        const std::string answer = answer_request(commands, request);
        if (response) {
            const std::u16string wide = utf8_to_utf16(answer);
            const BSTR text = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide.data()),
                                                static_cast<UINT>(wide.size()));
            if (!text)
                throw std::bad_alloc();
            *response = text;
        }
        return S_OK;
    } catch (const std::exception& error) {
        return report_error(error.what());
    } catch (...) {
        // Commands throw std::exception subclasses only; anything else must
        // still not cross the COM boundary.
        return report_error("Unknown exception");
    }
}

}  // namespace activex
