// pkcs11_ax_client.exe MODE REQUEST: loads kelvora_ax.dll from its own folder,
// creates the control through the library's class factory, runs one request
// through IPlugin::SendMessage and prints the answer. Then, with MODE
// "unload", releases the control and frees the library while the process
// goes on ("freed" is printed after FreeLibrary returns); with MODE "exit",
// it returns from main with the library still loaded, so that the library is
// detached as part of process exit.
#include <cstdio>
#include <string>

#include "activex/plugin_interface.h"

namespace {

using get_class_object_function = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
using can_unload_function = HRESULT(WINAPI*)();

std::wstring widen(const char* text)
{
    const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, &wide[0], length);
    wide.resize(wide.size() - 1);
    return wide;
}

std::string narrow(const wchar_t* text, UINT length)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &out[0], size, nullptr, nullptr);
    return out;
}

int fail(const char* what, HRESULT hr)
{
    std::fprintf(stderr, "%s failed: 0x%08lX\n", what, static_cast<unsigned long>(hr));
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3 || (std::string(argv[1]) != "unload" && std::string(argv[1]) != "exit")) {
        std::fprintf(stderr, "usage: pkcs11_ax_client unload|exit REQUEST\n");
        return 2;
    }
    const bool unload = std::string(argv[1]) == "unload";
    HMODULE library = LoadLibraryW(L"kelvora_ax.dll");
    if (!library)
        return fail("LoadLibrary", HRESULT_FROM_WIN32(GetLastError()));
    const auto get_class_object = reinterpret_cast<get_class_object_function>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "DllGetClassObject")));
    const auto can_unload = reinterpret_cast<can_unload_function>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "DllCanUnloadNow")));
    if (!get_class_object || !can_unload)
        return fail("GetProcAddress", E_NOINTERFACE);

    IClassFactory* factory = nullptr;
    HRESULT hr = get_class_object(CLSID_Plugin, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr))
        return fail("DllGetClassObject", hr);
    IPlugin* plugin = nullptr;
    hr = factory->CreateInstance(nullptr, IID_IPlugin, reinterpret_cast<void**>(&plugin));
    factory->Release();
    if (FAILED(hr))
        return fail("CreateInstance", hr);

    const std::wstring request = widen(argv[2]);
    BSTR message = SysAllocStringLen(request.data(), static_cast<UINT>(request.size()));
    BSTR response = nullptr;
    hr = plugin->SendMessage(message, &response);
    SysFreeString(message);
    plugin->Release();
    if (FAILED(hr))
        return fail("SendMessage", hr);
    const std::string answer = narrow(response, SysStringLen(response));
    SysFreeString(response);
    std::fwrite(answer.data(), 1, answer.size(), stdout);
    std::fflush(stdout);

    if (unload) {
        if (can_unload() != S_OK)
            return fail("DllCanUnloadNow", S_FALSE);
        if (!FreeLibrary(library))
            return fail("FreeLibrary", HRESULT_FROM_WIN32(GetLastError()));
        std::printf("freed\n");
        std::fflush(stdout);
    }
    return 0;
}
