#pragma once
// The identifiers of the control. The class, interface and type-library GUIDs
// live in activex.idl and reach C++ through the generated header that
// plugin_interface.h includes; the AppID is not part of the type library and
// lives here.
#include "activex/plugin_interface.h"

namespace activex {

// The module's AppID, offered to the registry scripts as the replacement
// "APPID". Neither script uses it, so registration writes it nowhere.
constexpr const wchar_t* appid_text = L"{05D36373-F196-4FB6-9BA4-B56A2E01B0D9}";

}  // namespace activex
