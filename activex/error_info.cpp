#include "activex/error_info.h"

#include <oleauto.h>

#include <vector>

#include "activex/com_handles.h"
#include "activex/plugin_interface.h"

namespace activex {
namespace {

// The thread's ANSI code page to UTF-16; empty when the text does not convert.
std::vector<wchar_t> from_thread_code_page(const char* text)
{
    const int length = MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0)
        return std::vector<wchar_t>(1, L'\0');
    std::vector<wchar_t> wide(static_cast<std::size_t>(length));
    MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, wide.data(), length);
    return wide;
}

// ProgIDFromCLSID's text, freed with CoTaskMemFree.
class registered_progid {
public:
    registered_progid()
    {
        if (FAILED(ProgIDFromCLSID(CLSID_Plugin, &text_)))
            text_ = nullptr;
    }
    ~registered_progid() { CoTaskMemFree(text_); }
    registered_progid(const registered_progid&) = delete;
    registered_progid& operator=(const registered_progid&) = delete;
    const wchar_t* get() const { return text_; }

private:
    LPOLESTR text_ = nullptr;
};

}  // namespace

HRESULT report_error(const char* text)
{
    com_ptr<ICreateErrorInfo> created;
    if (SUCCEEDED(CreateErrorInfo(created.put()))) {
        created->SetGUID(GUID_NULL);
        const registered_progid progid;
        if (progid.get())
            created->SetSource(const_cast<LPOLESTR>(progid.get()));
        std::vector<wchar_t> description;
        try {
            description = from_thread_code_page(text);
        } catch (...) {
            // No memory for the description: the error object goes without it.
        }
        if (!description.empty())
            created->SetDescription(description.data());
        com_ptr<IErrorInfo> info;
        if (SUCCEEDED(created->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.put()))))
            SetErrorInfo(0, info.get());
    }
    return DISP_E_EXCEPTION;
}

}  // namespace activex
