// The CryptoAPI back end over the test GOST provider (built beside this
// program as gost_csp_fixture.exe and kelvora_test_gost_csp.dll): PIN
// handling, silent contexts, the key-spec retry and the error codes that the
// end-to-end tests only see as texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/certificate_lookup.h"
#include "crypto/csp/context.h"
#include "crypto/csp/providers.h"
#include "crypto/csp/signers.h"
#include "crypto/csp/win32_exception.h"
#include "crypto/csp/x509certificate.h"
#include "crypto/csp/x509store.h"
#include "test_certificates.h"

namespace {

using crypto::byte_vector;
using crypto::csp::win32_exception;

std::wstring fixture_path()
{
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text(path, n);
    return text.substr(0, text.find_last_of(L"\\/") + 1) + L"gost_csp_fixture.exe";
}

bool fixture_present()
{
    return GetFileAttributesW(fixture_path().c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Runs the fixture with arguments; returns its standard output, or throws.
std::string run_fixture(const std::wstring& arguments)
{
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!CreatePipe(&read, &write, &inherit, 0))
        throw std::runtime_error("CreatePipe");
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring command = L"\"" + fixture_path() + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    const BOOL started =
        CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(write);
    if (!started) {
        CloseHandle(read);
        throw std::runtime_error("CreateProcessW");
    }
    std::string output;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(read, buffer, sizeof(buffer), &got, nullptr) && got)
        output.append(buffer, got);
    CloseHandle(read);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    if (status != 0)
        throw std::runtime_error("gost_csp_fixture failed");
    return output;
}

crypto::certificate_ptr new_certificate(const std::wstring& options)
{
    std::string thumbprint = run_fixture(L"new-cert " + options);
    thumbprint.erase(thumbprint.find_last_not_of("\r\n ") + 1);
    return crypto::csp::x509store().find_by_thumbprint(thumbprint);
}

class GostProvider : public ::testing::Test {
protected:
    // The test runner registers the provider before this program starts (so
    // that crypt32 knows its OIDs); registering again changes nothing.
    static void SetUpTestSuite()
    {
        if (fixture_present())
            run_fixture(L"register");
    }

    void SetUp() override
    {
        if (!fixture_present())
            GTEST_SKIP() << "the GOST stand-in provider is not built";
        SetEnvironmentVariableW(L"KELVORA_GOST_CSP_PROMPT_PIN", nullptr);
    }

    static byte_vector hash_for(const crypto::signature_algorithm& algorithm, const std::string& text)
    {
        const auto hash = algorithm.create_hash();
        hash->init();
        hash->update(text.data(), static_cast<std::uint32_t>(text.size()));
        return hash->final();
    }

    static std::uint32_t sign_error(crypto::signature_algorithm& algorithm, const byte_vector& hash)
    {
        try {
            algorithm.sign_hash(hash);
        } catch (const win32_exception& e) {
            EXPECT_EQ(std::string(e.what()), csp_test::expected_error_text(e.code()));
            return e.code();
        }
        return 0;
    }
};

TEST_F(GostProvider, PinIsSetOnTheContextAndAWrongOneIsTheProvidersError)
{
    const auto certificate = new_certificate(L"--alg 2012-256 --container pin-256 --pin 1234");
    ASSERT_TRUE(crypto::is_found(certificate));

    const auto right = crypto::make_signature_algorithm(certificate, "1234");
    const auto hash = hash_for(*right, "pin");
    const auto signature = right->sign_hash(hash);
    EXPECT_EQ(signature.size(), 64u);
    EXPECT_TRUE(right->verify(hash, signature));
    EXPECT_FALSE(right->verify(hash_for(*right, "other"), signature));

    const auto wrong = crypto::make_signature_algorithm(certificate, "9999");
    EXPECT_EQ(sign_error(*wrong, hash), static_cast<std::uint32_t>(SCARD_W_WRONG_CHV));
    try {
        wrong->sign_hashes({{"1", hash}, {"2", hash}});
        ADD_FAILURE();
    } catch (const win32_exception& e) {
        EXPECT_EQ(e.code(), static_cast<std::uint32_t>(SCARD_W_WRONG_CHV));
    }

    // No PIN: the provider would ask; its dialog is cancelled here, or answered.
    const auto none = crypto::make_signature_algorithm(certificate, "");
    EXPECT_EQ(sign_error(*none, hash), static_cast<std::uint32_t>(SCARD_W_CANCELLED_BY_USER));
    SetEnvironmentVariableW(L"KELVORA_GOST_CSP_PROMPT_PIN", L"1234");
    EXPECT_TRUE(right->verify(hash, none->sign_hash(hash)));
}

TEST_F(GostProvider, TryWithoutPinNeverAsks)
{
    const auto with_pin = new_certificate(L"--alg 2001 --container try-pin --pin 1111");
    const auto without_pin = new_certificate(L"--alg 2001 --container try-open");
    SetEnvironmentVariableW(L"KELVORA_GOST_CSP_PROMPT_PIN", L"1111");
    EXPECT_FALSE(crypto::make_signature_algorithm(with_pin, "")->try_sign());
    EXPECT_TRUE(crypto::make_signature_algorithm(with_pin, "1111")->try_sign());
    EXPECT_FALSE(crypto::make_signature_algorithm(with_pin, "2222")->try_sign());
    EXPECT_TRUE(crypto::make_signature_algorithm(without_pin, "")->try_sign());

    // The silent context refuses what would need the PIN.
    const crypto::csp::crypt_context silent(with_pin, "", true);
    ASSERT_NE(silent.handle(), 0u);
    const auto algorithm = crypto::make_signature_algorithm(with_pin, "");
    const auto hash = hash_for(*algorithm, "silent");
    HCRYPTHASH h = 0;
    ASSERT_TRUE(CryptCreateHash(silent.handle(), algorithm->hash_alg_id(), 0, 0, &h));
    ASSERT_TRUE(CryptSetHashParam(h, HP_HASHVAL, hash.data(), 0));
    DWORD length = 0;
    EXPECT_TRUE(CryptSignHashW(h, AT_KEYEXCHANGE, nullptr, 0, nullptr, &length));
    byte_vector signature(length);
    EXPECT_FALSE(CryptSignHashW(h, AT_KEYEXCHANGE, nullptr, 0, signature.data(), &length));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_SILENT_CONTEXT));
    CryptDestroyHash(h);
}

TEST_F(GostProvider, SignatureKeyIsUsedAfterBadKeysetForTheExchangeKey)
{
    const auto certificate = new_certificate(L"--alg 2012-512 --container sig-only --key-spec signature "
                                             L"--prov-key-spec 1");
    ASSERT_EQ(certificate->key_spec(), static_cast<std::uint32_t>(AT_KEYEXCHANGE));
    const auto algorithm = crypto::make_signature_algorithm(certificate, "");
    const auto hash = hash_for(*algorithm, "retry");
    ASSERT_EQ(hash.size(), 64u);
    const auto signature = algorithm->sign_hash(hash);
    EXPECT_EQ(signature.size(), 128u);
    EXPECT_TRUE(algorithm->verify(hash, signature));
    const auto set = algorithm->sign_hashes({{"b", hash}, {"a", hash_for(*algorithm, "a")}});
    ASSERT_EQ(set.size(), 2u);
    EXPECT_TRUE(algorithm->verify(hash_for(*algorithm, "a"), set.at("a")));
    EXPECT_TRUE(algorithm->try_sign());
}

TEST_F(GostProvider, KeySpecZeroIsNotRetried)
{
    const auto certificate = new_certificate(L"--alg 2012-256 --container spec-zero --prov-key-spec 0");
    ASSERT_EQ(certificate->key_spec(), 0u);
    const auto algorithm = crypto::make_signature_algorithm(certificate, "");
    const std::uint32_t code = sign_error(*algorithm, hash_for(*algorithm, "zero"));
    EXPECT_NE(code, 0u);
    EXPECT_NE(code, static_cast<std::uint32_t>(NTE_BAD_KEYSET));
    EXPECT_FALSE(algorithm->try_sign());
}

TEST_F(GostProvider, ReaderAndContainerOfTheKeyProviderInformation)
{
    const auto on_reader = new_certificate(L"--alg 2001 --container on-reader --reader");
    const auto in_store = new_certificate(L"--alg 2001 --container in-store");
    EXPECT_EQ(on_reader->reader(), "Kelvora Test Reader 0");
    EXPECT_EQ(on_reader->container(), "on-reader");
    EXPECT_EQ(in_store->reader(), "");
    EXPECT_EQ(in_store->signature_oid(), "1.2.643.2.2.3");
    EXPECT_TRUE(std::dynamic_pointer_cast<crypto::csp::gost_3410_2001>(
        crypto::make_signature_algorithm(in_store, "")) != nullptr);
}

TEST_F(GostProvider, ProvidersAreFoundByTheirHashOids)
{
    auto types_for = [](std::vector<std::string> oids) {
        std::vector<std::uint32_t> types;
        for (const auto& entry : crypto::csp::list_providers(oids))
            if (entry.name.find("Kelvora Test GOST") == 0)
                types.push_back(entry.type);
        return types;
    };
    // Every stand-in hashes with GOST R 34.11-94; only the 512-bit one has the
    // 512-bit GOST R 34.11-2012 hash. Listed in the enumeration order.
    EXPECT_EQ(types_for({"1.2.643.2.2.9"}), (std::vector<std::uint32_t>{75, 80, 81}));
    EXPECT_EQ(types_for({"1.2.643.7.1.1.2.2"}), (std::vector<std::uint32_t>{80, 81}));
    EXPECT_EQ(types_for({"1.2.643.7.1.1.2.3"}), (std::vector<std::uint32_t>{81}));
    EXPECT_EQ(types_for({"1.2.3", "1.2.643.7.1.1.2.3"}), (std::vector<std::uint32_t>{81}));
    EXPECT_TRUE(types_for({}).empty());
}

}  // namespace
