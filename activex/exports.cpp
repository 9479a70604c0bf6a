// The entry point and the five exports of kelvora_ax.dll (named in
// kelvora_ax.def, so that they are undecorated in the 32-bit build too).
#include "activex/module.h"

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        the_module.set_instance(instance);
        return the_module.initialized() ? TRUE : FALSE;
    }
    // At process exit (reserved not null) other libraries may be gone already.
    if (reason == DLL_PROCESS_DETACH && reserved)
        the_module.abandon_cached_objects();
    return TRUE;
}

STDAPI DllCanUnloadNow()
{
    return the_module.DllCanUnloadNow();
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object)
{
    return the_module.DllGetClassObject(clsid, iid, object);
}

STDAPI DllRegisterServer()
{
    return the_module.DllRegisterServer();
}

STDAPI DllUnregisterServer()
{
    return the_module.DllUnregisterServer();
}

// "user" (in any letter case) as the command line switches the process to
// per-user registration for as long as the library stays loaded.
STDAPI DllInstall(BOOL install, LPCWSTR command_line)
{
    return the_module.DllInstall(install, command_line);
}

}  // extern "C"
