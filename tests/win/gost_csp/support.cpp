#include "support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace gost_test {

using namespace gost_standin;

namespace {

std::wstring fixture_path()
{
    wchar_t module[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring path(module, n);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"gost_csp_fixture.exe";
}

std::wstring quote(const std::wstring& word)
{
    std::wstring out = L"\"";
    for (wchar_t c : word) {
        if (c == L'"') out += L'\\';
        out += c;
    }
    return out + L"\"";
}

std::string read_pipe(HANDLE pipe)
{
    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(pipe, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
    return text;
}

struct pipe_pair {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    pipe_pair()
    {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        check(CreatePipe(&read, &write, &inherit, 0), "CreatePipe");
        SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    }
    ~pipe_pair()
    {
        if (read) CloseHandle(read);
        if (write) CloseHandle(write);
    }
    void close_write()
    {
        CloseHandle(write);
        write = nullptr;
    }
};

}  // namespace

process_result run_fixture(const std::vector<std::string>& arguments)
{
    std::wstring command = quote(fixture_path());
    for (const auto& a : arguments) command += L" " + quote(widen(a));
    pipe_pair out, err;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out.write;
    startup.hStdError = err.write;
    PROCESS_INFORMATION process{};
    check(CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process),
          "CreateProcessW");
    out.close_write();
    err.close_write();
    process_result result;
    std::thread error_reader([&] { result.err = read_pipe(err.read); });
    result.out = read_pipe(out.read);
    error_reader.join();
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &result.exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

std::string unique_name(const std::string& stem)
{
    static std::atomic<unsigned> counter{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = stem;
    if (info) name += std::string("-") + info->name();
    for (char& c : name)
        if (c == '/') c = '_';
    return name + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount()) + "-" +
           std::to_string(counter++);
}

std::vector<const key_family*> families()
{
    std::vector<const key_family*> out;
    for (const auto& family : key_families()) out.push_back(&family);
    return out;
}

bool try_acquire(provider_handle& out, const key_family& family, const std::string& container, DWORD flags)
{
    const std::wstring name = widen(container);
    const std::wstring provider = widen(family.provider_name);
    return CryptAcquireContextW(out.out(), container.empty() ? nullptr : name.c_str(), provider.c_str(),
                                family.provider_type, flags) != FALSE;
}

provider_handle acquire(const key_family& family, const std::string& container, DWORD flags)
{
    provider_handle out;
    check(try_acquire(out, family, container, flags), "CryptAcquireContextW");
    return out;
}

void set_pin(HCRYPTPROV provider, const std::string& pin)
{
    const BYTE* text = reinterpret_cast<const BYTE*>(pin.c_str());
    check(CryptSetProvParam(provider, PP_KEYEXCHANGE_PIN, text, 0), "CryptSetProvParam");
    check(CryptSetProvParam(provider, PP_SIGNATURE_PIN, text, 0), "CryptSetProvParam");
}

void make_container(const key_family& family, const std::string& name, DWORD spec, const std::string& pin)
{
    provider_handle provider = acquire(family, name, CRYPT_NEWKEYSET | CRYPT_SILENT);
    if (!pin.empty()) set_pin(provider.get(), pin);
    key_handle key;
    check(CryptGenKey(provider.get(), spec, 0, key.out()), "CryptGenKey");
}

hash_handle hash_with_value(HCRYPTPROV provider, const key_family& family, const bytes& value)
{
    hash_handle hash;
    check(CryptCreateHash(provider, family.hash_alg, 0, 0, hash.out()), "CryptCreateHash");
    check(CryptSetHashParam(hash.get(), HP_HASHVAL, value.data(), 0), "CryptSetHashParam");
    return hash;
}

bool try_sign(HCRYPTHASH hash, DWORD spec, bytes& signature)
{
    DWORD size = 0;
    if (!CryptSignHashW(hash, spec, nullptr, 0, nullptr, &size)) return false;
    signature.assign(size, 0);
    if (!CryptSignHashW(hash, spec, nullptr, 0, signature.data(), &size)) return false;
    signature.resize(size);
    return true;
}

bytes public_blob(const key_family& family, const std::string& container)
{
    provider_handle provider = acquire(family, container, CRYPT_SILENT);
    key_handle key;
    if (!CryptGetUserKey(provider.get(), AT_KEYEXCHANGE, key.out()))
        check(CryptGetUserKey(provider.get(), AT_SIGNATURE, key.out()), "CryptGetUserKey");
    return export_key(key.get(), 0, PUBLICKEYBLOB);
}

bool verifies(const key_family& family, const bytes& public_key_blob, const bytes& hash_value, const bytes& signature)
{
    provider_handle verifier = acquire(family, "", CRYPT_VERIFYCONTEXT | CRYPT_SILENT);
    key_handle key;
    check(CryptImportKey(verifier.get(), public_key_blob.data(), static_cast<DWORD>(public_key_blob.size()), 0, 0,
                         key.out()),
          "CryptImportKey");
    hash_handle hash = hash_with_value(verifier.get(), family, hash_value);
    return CryptVerifySignatureW(hash.get(), signature.data(), static_cast<DWORD>(signature.size()), key.get(),
                                 nullptr, 0) != FALSE;
}

bytes make_bytes(std::size_t count, std::uint8_t first)
{
    bytes out(count);
    for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<std::uint8_t>(first + i * 7);
    return out;
}

scoped_environment::scoped_environment(const char* name, const std::string& value) : name_(name)
{
    char old[1024];
    const DWORD n = GetEnvironmentVariableA(name, old, sizeof old);
    had_value_ = n > 0 && n < sizeof old;
    if (had_value_) old_value_.assign(old, n);
    SetEnvironmentVariableA(name, value.c_str());
}

scoped_environment::~scoped_environment()
{
    SetEnvironmentVariableA(name_.c_str(), had_value_ ? old_value_.c_str() : nullptr);
}

}  // namespace gost_test
