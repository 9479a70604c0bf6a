#pragma once
#include <windows.h>

namespace activex {

// Sets the thread's error information for a failed call of the control and
// returns DISP_E_EXCEPTION: the text (converted with the thread's ANSI code
// page) as description, the ProgID that the registry gives for CLSID_Plugin
// as source (none when the lookup fails), GUID_NULL as interface.
HRESULT report_error(const char* text);

}  // namespace activex
