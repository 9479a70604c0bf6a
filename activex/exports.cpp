// The entry point and the five exports of kelvora_ax.dll (named in
// kelvora_ax.def, so that they are undecorated in the 32-bit build too).
#include "activex/module.h"
#include "crypto/pkcs11/connector.h"

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        the_module.set_instance(instance);
        return the_module.initialized() ? TRUE : FALSE;
    }
    // At process exit (reserved not null) other libraries may be gone already,
    // and the loader lock is held: the PKCS#11 modules are left as they are
    // rather than finalised and freed from here. When the library is unloaded
    // from a running process, the module registry's destruction still
    // finalises and frees them.
    if (reason == DLL_PROCESS_DETACH && reserved) {
        the_module.abandon_cached_objects();
        crypto::pkcs11::abandon_modules_at_exit();
    }
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
