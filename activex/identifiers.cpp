// Defines CLSID_Plugin, IID_IPlugin and LIBID_ActiveXLib, which the generated
// header only declares: with <initguid.h> included first, its DEFINE_GUID
// lines become definitions.
#include <windows.h>
#include <ole2.h>

#include <initguid.h>

#include "activex_lib.h"
