#pragma once
// IPlugin, CLSID_Plugin, IID_IPlugin and LIBID_ActiveXLib as widl generates
// them from activex.idl, with the Windows headers they need.
#include <windows.h>
#include <ole2.h>
#include <objsafe.h>

// <winuser.h> maps SendMessage to SendMessageW; the method of IPlugin keeps
// the name it has in the type library.
#ifdef SendMessage
#undef SendMessage
#endif

#include "activex_lib.h"
