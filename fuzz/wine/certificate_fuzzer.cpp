// Certificates through the system's own CryptoAPI decoder, as the host reads
// them: mutated certificates (der_mutator.h) go through the certificate check
// and CertCreateCertificateContext (crypto::csp::create_certificate_context),
// the certificate description of the certificate commands (to_ptree: subject
// and issuer through CertNameToStrW), the client-authentication test
// (CertGetEnhancedKeyUsage), the import of the public key into a verify
// context of the RSA/AES provider (CryptImportPublicKeyInfo), and the viewer
// of SerializeCertificate (X509Certificate::create_context and to_json: names,
// and the extension values through CryptDecodeObject).
//
// Reads outside the bytes are made to fault. Every input is placed flush
// against a no-access page, once ending right before it and once starting
// right after one. The decoders after CertCreateCertificateContext read the
// copies the certificate context holds (names, key, extension values, all in
// one heap block), so this program puts itself between the host and
// CertCreateCertificateContext (its own import table) and moves each of those
// parts of a new context into a guarded place of its own, the same way.
//
// A vectored exception handler, called first, counts every access violation
// (and the other hardware faults), also those the system's decoder catches
// itself and turns into a failed call. A fault nothing catches would end the
// host; here the unhandled-exception filter records it and the run resumes
// with the next input. After each input every heap of the process is
// validated; Wine checks the tail of each block only with its heap checking
// on (WINEDEBUG warn+heap, as the test suite and scripts/fuzz-long.sh run
// this program), and only then does a write past a block fail HeapValidate. Each faulting input is saved under the findings folder
// (wine-fuzz-findings beside the program unless --findings names one) and
// printed. The exit status is 1 when any fault was seen, 2 when the program
// could not do its work (a seed that gives no certificate context, or a run
// whose inputs mostly stopped at the check).
//
//   wine_certificate_fuzzer [--seed N] [--runs N] [--seconds S] [--findings DIR]
//   wine_certificate_fuzzer [--minimize] --input FILE... | --hex HEX...   (replays inputs)
// --runs and --seconds bound the run (the first reached ends it; 0 is no
// bound; 30 s when neither is given). An input file is DER, or hexadecimal
// text with one input a line.
// --minimize shrinks each replayed input that faults, element by element,
// as long as the first kind of fault it showed stays.
#include <windows.h>
#include <wincrypt.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "crypto/csp/context.h"
#include "crypto/csp/key.h"
#include "crypto/csp/x509certificate.h"
#include "crypto/encoding/hex.h"
#include "crypto/x509reader/x509_certificate.h"
#include "der_mutator.h"
#include "messages/json.h"
#include "seeds.h"

namespace {

using wine_fuzz::bytes;

constexpr DWORD any_encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// No input is made longer; each guarded place holds this much.
constexpr std::size_t largest_input = 8192;
constexpr std::size_t place_capacity = 16384;
// Two certificate contexts a pass (the host's and the viewer's), each with
// its names, key parts and extension values.
constexpr std::size_t place_count = 512;

enum class placement { flush_end, flush_start };

const char* placement_name(placement p)
{
    return p == placement::flush_end ? "ending at a no-access page" : "starting after a no-access page";
}

// ---------------------------------------------------------------------------
// Guarded places: data pages with a no-access page on either side.

struct guarded_place {
    std::uint8_t* area = nullptr;  // the first data byte after the leading no-access page
    const std::uint8_t* begin = nullptr;
    std::size_t size = 0;
    char label[72] = {};
};

class guarded_memory {
public:
    guarded_memory()
    {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        page_ = info.dwPageSize;
        capacity_ = (place_capacity + page_ - 1) / page_ * page_;
        stride_ = capacity_ + page_;
        const std::size_t total = place_count * stride_ + page_;
        base_ = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, total, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        if (!base_)
            return;
        DWORD old = 0;
        for (std::size_t i = 0; i <= place_count; ++i)
            if (!VirtualProtect(base_ + i * stride_, page_, PAGE_NOACCESS, &old))
                return;
        for (std::size_t i = 0; i < place_count; ++i)
            places_[i].area = base_ + i * stride_ + page_;
        total_ = total;
    }

    bool ready() const { return total_ != 0; }
    void reset(placement p)
    {
        used_ = 0;
        placement_ = p;
    }
    std::size_t used() const { return used_; }
    std::size_t missed() const { return missed_; }

    // A copy of data placed flush against a no-access page; null when every
    // place is taken or the data does not fit.
    std::uint8_t* place(const void* data, std::size_t size, const char* label, const char* detail = nullptr)
    {
        if (used_ == place_count || size > capacity_) {
            ++missed_;
            return nullptr;
        }
        guarded_place& p = places_[used_++];
        std::uint8_t* at = placement_ == placement::flush_end ? p.area + capacity_ - size : p.area;
        if (size)
            std::memcpy(at, data, size);
        p.begin = at;
        p.size = size;
        std::snprintf(p.label, sizeof p.label, "%s%s%s", label, detail ? " " : "", detail ? detail : "");
        return at;
    }

    // What a faulting address in a no-access page was next to: the place
    // whose end it follows (or whose start it precedes), and by how many
    // bytes. False for an address outside the no-access pages.
    struct location {
        bool past_end = false;
        const guarded_place* place = nullptr;  // null: next to no place in use
        unsigned long long distance = 0;
    };
    bool locate(ULONG_PTR address, location& out) const
    {
        const auto a = reinterpret_cast<const std::uint8_t*>(address);
        if (!total_ || a < base_ || a >= base_ + total_)
            return false;
        const std::size_t offset = static_cast<std::size_t>(a - base_);
        if (offset % stride_ >= page_)
            return false;  // inside a data area
        const std::size_t guard = offset / stride_;  // no-access page i lies before place i, after place i - 1
        out = location{};
        if (placement_ == placement::flush_end && guard > 0 && guard - 1 < used_) {
            out.past_end = true;
            out.place = &places_[guard - 1];
            out.distance = static_cast<unsigned long long>(a - (out.place->begin + out.place->size)) + 1;
        } else if (placement_ == placement::flush_start && guard < used_) {
            out.place = &places_[guard];
            out.distance = static_cast<unsigned long long>(out.place->begin - a);
        }
        return true;
    }

private:
    std::size_t page_ = 4096;
    std::size_t capacity_ = 0;
    std::size_t stride_ = 0;
    std::size_t total_ = 0;
    std::uint8_t* base_ = nullptr;
    guarded_place places_[place_count];
    std::size_t used_ = 0;
    std::size_t missed_ = 0;
    placement placement_ = placement::flush_end;
};

guarded_memory* guarded = nullptr;

// ---------------------------------------------------------------------------
// The parts of a new certificate context moved into guarded places.

using create_context_function = PCCERT_CONTEXT(WINAPI*)(DWORD, const BYTE*, DWORD);
create_context_function system_create_context = nullptr;
bool guard_context_parts = false;

void guard_blob(BYTE*& data, DWORD size, const char* label, const char* detail = nullptr)
{
    if (!data)
        return;
    if (std::uint8_t* copy = guarded->place(data, size, label, detail))
        data = copy;
}

PCCERT_CONTEXT WINAPI create_context_with_guarded_parts(DWORD encoding, const BYTE* data, DWORD size)
{
    PCCERT_CONTEXT context = system_create_context(encoding, data, size);
    if (!context || !guard_context_parts || !context->pCertInfo)
        return context;
    // The context's own structure, written by the system's decoder into a
    // heap block that only it frees: the pointers may be changed.
    auto* info = const_cast<CERT_INFO*>(context->pCertInfo);
    guard_blob(info->SerialNumber.pbData, info->SerialNumber.cbData, "serial number");
    guard_blob(info->SignatureAlgorithm.Parameters.pbData, info->SignatureAlgorithm.Parameters.cbData,
               "signature algorithm parameters");
    guard_blob(info->Issuer.pbData, info->Issuer.cbData, "issuer");
    guard_blob(info->Subject.pbData, info->Subject.cbData, "subject");
    CERT_PUBLIC_KEY_INFO& key = info->SubjectPublicKeyInfo;
    guard_blob(key.Algorithm.Parameters.pbData, key.Algorithm.Parameters.cbData, "key parameters");
    guard_blob(key.PublicKey.pbData, key.PublicKey.cbData, "public key");
    guard_blob(info->IssuerUniqueId.pbData, info->IssuerUniqueId.cbData, "issuer unique id");
    guard_blob(info->SubjectUniqueId.pbData, info->SubjectUniqueId.cbData, "subject unique id");
    for (DWORD i = 0; i < info->cExtension; ++i) {
        CERT_EXTENSION& extension = info->rgExtension[i];
        guard_blob(extension.Value.pbData, extension.Value.cbData, "extension value",
                   extension.pszObjId ? extension.pszObjId : "(no OID)");
    }
    return context;
}

// Points this program's import of CertCreateCertificateContext at the
// function above: the host's code calls through the import table.
bool install_context_hook()
{
    const HMODULE crypt32 = GetModuleHandleW(L"crypt32.dll");
    if (!crypt32)
        return false;
    void* target = reinterpret_cast<void*>(GetProcAddress(crypt32, "CertCreateCertificateContext"));
    system_create_context = reinterpret_cast<create_context_function>(target);
    if (!target)
        return false;
    auto* base = reinterpret_cast<std::uint8_t*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!imports.VirtualAddress)
        return false;
    bool patched = false;
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name; ++d) {
        if (_stricmp(reinterpret_cast<const char*>(base + d->Name), "crypt32.dll") != 0)
            continue;
        for (auto* t = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk); t->u1.Function; ++t) {
            if (reinterpret_cast<void*>(t->u1.Function) != target)
                continue;
            DWORD old = 0;
            if (!VirtualProtect(&t->u1.Function, sizeof t->u1.Function, PAGE_READWRITE, &old))
                return false;
            t->u1.Function = reinterpret_cast<ULONG_PTR>(&create_context_with_guarded_parts);
            VirtualProtect(&t->u1.Function, sizeof t->u1.Function, old, &old);
            patched = true;
        }
    }
    return patched;
}

// ---------------------------------------------------------------------------
// Faults.

struct fault {
    DWORD code = 0;
    bool write = false;
    ULONG_PTR address = 0;
    bool caught = true;
    const char* stage = "";
    char module[40] = {};
    ULONG_PTR offset = 0;  // of the faulting instruction in its module
    placement where = placement::flush_end;
    // Where an access violation fell, with the distance and without it.
    char place[200] = {};
    char place_kind[160] = {};
};

placement current_placement = placement::flush_end;

constexpr int faults_kept = 16;
fault input_faults[faults_kept];
int input_fault_count = 0;   // faults of the current input (also those beyond faults_kept)
const char* stage = "";
const bytes* current_input = nullptr;
wchar_t last_fault_path[MAX_PATH] = {};

bool is_hardware_fault(DWORD code)
{
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_STACK_OVERFLOW:
    case 0xC0000374:  // STATUS_HEAP_CORRUPTION
    case 0xC0000409:  // STATUS_STACK_BUFFER_OVERRUN
        return true;
    default:
        return false;
    }
}

// The input of a first fault goes to disk at once, before anything else can
// go wrong in this process.
void write_last_fault_input()
{
    if (!current_input || !last_fault_path[0])
        return;
    const HANDLE file = CreateFileW(last_fault_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, current_input->data(), static_cast<DWORD>(current_input->size()), &written, nullptr);
    CloseHandle(file);
}

// Where an access violation fell: next to which guarded part, or elsewhere.
// Called in the exception handler, while the places hold the pass's parts.
void locate_fault(fault& f)
{
    guarded_memory::location at;
    if (!guarded->locate(f.address, at)) {
        std::snprintf(f.place, sizeof f.place, "at address 0x%llx", static_cast<unsigned long long>(f.address));
        std::snprintf(f.place_kind, sizeof f.place_kind, "elsewhere");
    } else if (!at.place) {
        std::snprintf(f.place, sizeof f.place, "in a no-access page next to no part in use");
        std::snprintf(f.place_kind, sizeof f.place_kind, "%s", f.place);
    } else {
        const char* side = at.past_end ? "past the end of" : "before the start of";
        std::snprintf(f.place, sizeof f.place, "%llu bytes %s the %s (%llu bytes)", at.distance, side,
                      at.place->label, static_cast<unsigned long long>(at.place->size));
        std::snprintf(f.place_kind, sizeof f.place_kind, "%s the %s", side, at.place->label);
    }
}

LONG CALLBACK on_exception(EXCEPTION_POINTERS* pointers)
{
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    if (!is_hardware_fault(record->ExceptionCode))
        return EXCEPTION_CONTINUE_SEARCH;
    if (input_fault_count < faults_kept) {
        fault& f = input_faults[input_fault_count];
        f = fault{};
        f.code = record->ExceptionCode;
        if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2) {
            f.write = record->ExceptionInformation[0] == 1;
            f.address = record->ExceptionInformation[1];
        }
        f.stage = stage;
        f.where = current_placement;
        if (f.code == EXCEPTION_ACCESS_VIOLATION)
            locate_fault(f);
        HMODULE module = nullptr;
        if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                               static_cast<LPCWSTR>(record->ExceptionAddress), &module) && module) {
            char path[MAX_PATH] = {};
            GetModuleFileNameA(module, path, MAX_PATH);
            const char* name = std::strrchr(path, '\\');
            std::snprintf(f.module, sizeof f.module, "%s", name ? name + 1 : path);
            f.offset = reinterpret_cast<ULONG_PTR>(record->ExceptionAddress) - reinterpret_cast<ULONG_PTR>(module);
        } else {
            std::snprintf(f.module, sizeof f.module, "?");
            f.offset = reinterpret_cast<ULONG_PTR>(record->ExceptionAddress);
        }
    }
    if (input_fault_count++ == 0)
        write_last_fault_input();
    return EXCEPTION_CONTINUE_SEARCH;
}

// Resuming after a fault nothing caught: the pass that faulted is left where
// it is (what it allocated stays allocated) and the run goes on.
void* recovery_point[5];
void* saved_exception_list = nullptr;
bool recovery_armed = false;
alignas(16) unsigned char recovery_stack[64 * 1024];

// The thread's list of exception registrations: the first field of its
// thread information block (gs:0 in x86_64 code, fs:0 in i686 code).
void* exception_list()
{
    void* list = nullptr;
#if defined(_WIN64)
    asm volatile("movq %%gs:0, %0" : "=r"(list));
#else
    asm volatile("movl %%fs:0, %0" : "=r"(list));
#endif
    return list;
}

void set_exception_list(void* list)
{
#if defined(_WIN64)
    asm volatile("movq %0, %%gs:0" : : "r"(list) : "memory");
#else
    asm volatile("movl %0, %%fs:0" : : "r"(list) : "memory");
#endif
}

[[noreturn]] void resume_after_fault()
{
    // Exception registrations of the abandoned frames go with them.
    set_exception_list(saved_exception_list);
    __builtin_longjmp(recovery_point, 1);
}

LONG WINAPI on_unhandled(EXCEPTION_POINTERS* pointers)
{
    if (!recovery_armed)
        return EXCEPTION_CONTINUE_SEARCH;
    recovery_armed = false;
    if (!is_hardware_fault(pointers->ExceptionRecord->ExceptionCode)) {
        // Not seen by the vectored handler: counted here.
        if (input_fault_count < faults_kept) {
            input_faults[input_fault_count] = fault{};
            input_faults[input_fault_count].code = pointers->ExceptionRecord->ExceptionCode;
            input_faults[input_fault_count].stage = stage;
            std::snprintf(input_faults[input_fault_count].module, sizeof input_faults[0].module, "?");
        }
        ++input_fault_count;
    }
    if (input_fault_count > 0 && input_fault_count <= faults_kept)
        input_faults[input_fault_count - 1].caught = false;
    // Continue in resume_after_fault on a stack of its own, as if called.
    const auto top = reinterpret_cast<ULONG_PTR>(recovery_stack + sizeof recovery_stack) & ~static_cast<ULONG_PTR>(15);
    CONTEXT* context = pointers->ContextRecord;
#if defined(_WIN64)
    context->Rsp = top - 8;
    context->Rip = reinterpret_cast<DWORD64>(&resume_after_fault);
#else
    context->Esp = static_cast<DWORD>(top - 4);
    context->Eip = reinterpret_cast<DWORD>(&resume_after_fault);
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
}

// ---------------------------------------------------------------------------
// One input through the host's certificate functions.

struct tallies {
    unsigned long long passes = 0;
    unsigned long long contexts = 0;
    unsigned long long descriptions = 0;
    unsigned long long client_auth = 0;
    unsigned long long keys = 0;
    unsigned long long viewer_texts = 0;
    unsigned long long answers = 0;
};

class harness {
public:
    explicit harness(HCRYPTPROV provider) : provider_(provider) {}

    // Both placements, then the heaps; the faults are in input_faults.
    void run(const bytes& input, bool& made_context)
    {
        made_context = false;
        current_input = &input;
        for (const placement where : {placement::flush_end, placement::flush_start}) {
            current_placement = where;
            run_recovering(input, where, made_context);
        }
        stage = "heap validation after the input";
        if (!heaps_sound()) {
            if (input_fault_count < faults_kept) {
                input_faults[input_fault_count] = fault{};
                input_faults[input_fault_count].code = 0xC0000374;
                input_faults[input_fault_count].stage = stage;
                std::snprintf(input_faults[input_fault_count].module, sizeof input_faults[0].module, "heap");
                std::snprintf(input_faults[input_fault_count].place_kind, sizeof input_faults[0].place_kind,
                              "a heap fails HeapValidate");
            }
            ++input_fault_count;
            heap_damaged = true;
        }
        stage = "";
        current_input = nullptr;
    }

    const tallies& counts() const { return counts_; }
    bool heap_damaged = false;

private:
    // One pass; a fault nothing catches ends it early (on_unhandled and
    // resume_after_fault come back here).
    __attribute__((noinline)) void run_recovering(const bytes& input, placement where, bool& made_context)
    {
        saved_exception_list = exception_list();
        if (__builtin_setjmp(recovery_point)) {
            guard_context_parts = false;
            return;
        }
        recovery_armed = true;
        pass(input, where, made_context);
        recovery_armed = false;
    }

    __attribute__((noinline)) void pass(const bytes& input, placement where, bool& made_context)
    {
        ++counts_.passes;
        guarded->reset(where);
        guard_context_parts = true;

        // The host's certificate, as make_certificate makes it, from bytes
        // that end (or start) at a no-access page.
        stage = "create_certificate_context";
        const BYTE* bytes_at = guarded->place(input.data(), input.size(), "certificate");
        PCCERT_CONTEXT context = crypto::csp::create_certificate_context(any_encoding, bytes_at,
                                                                         static_cast<DWORD>(input.size()));
        if (context) {
            made_context = true;
            ++counts_.contexts;
            const auto certificate = std::make_shared<crypto::csp::x509certificate>(context);
            stage = "x509certificate::to_ptree";
            try {
                const auto description = certificate->to_ptree();
                if (!description.empty())
                    ++counts_.descriptions;
            } catch (const std::exception&) {
                // The commands answer a failure; not a fault.
            }
            stage = "x509certificate::has_client_auth_usage";
            if (certificate->has_client_auth_usage())
                ++counts_.client_auth;
            stage = "key(context, certificate)";
            const crypto::csp::key imported(provider_, certificate);
            if (imported.handle())
                ++counts_.keys;
        }

        // SerializeCertificate's viewer over the same bytes.
        stage = "X509Certificate::create_context";
        crypto::x509reader::X509Certificate viewer;
        viewer.set_encoded(input);
        if (viewer.create_context()) {
            stage = "X509Certificate::to_json";
            if (const auto json = viewer.to_json()) {
                ++counts_.viewer_texts;
                stage = "from_json of the viewer's text";
                try {
                    messages::from_json(std::string(json.get()));
                    ++counts_.answers;
                } catch (const std::exception&) {
                    // The command answers {"valid": "false"}; not a fault.
                }
            }
        }
        stage = "";
        guard_context_parts = false;
    }

    static bool heaps_sound()
    {
        HANDLE heaps[256];
        const DWORD count = GetProcessHeaps(256, heaps);
        for (DWORD i = 0; i < count && i < 256; ++i)
            if (!HeapValidate(heaps[i], 0, nullptr))
                return false;
        return true;
    }

    crypto::csp::verify_context provider_;
    tallies counts_;
};

// ---------------------------------------------------------------------------
// Reporting.

std::string hex(const bytes& data)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(data.size() * 2);
    for (const auto b : data) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

const char* catching(const fault& f)
{
    return f.caught ? "caught inside the call" : "uncaught, would end the host";
}

std::string describe(const fault& f)
{
    char text[600];
    if (std::strcmp(f.module, "heap") == 0)
        std::snprintf(text, sizeof text, "%s: a heap of the process fails HeapValidate", f.stage);
    else if (f.code == EXCEPTION_ACCESS_VIOLATION)
        std::snprintf(text, sizeof text, "%s: %s %s at %s+0x%llx (%s; input %s)", f.stage, f.write ? "write" : "read",
                      f.place, f.module, static_cast<unsigned long long>(f.offset), catching(f),
                      placement_name(f.where));
    else
        std::snprintf(text, sizeof text, "%s: exception 0x%08lx at %s+0x%llx (%s; input %s)", f.stage,
                      static_cast<unsigned long>(f.code), f.module, static_cast<unsigned long long>(f.offset),
                      catching(f), placement_name(f.where));
    return text;
}

// A kind of fault: the call of the host, what was read or written, the
// faulting instruction, and whether the call caught it. The distance varies
// between inputs of one kind and is left out.
std::string kind_of(const fault& f)
{
    char text[400];
    if (std::strcmp(f.module, "heap") == 0)
        std::snprintf(text, sizeof text, "%s | a heap fails HeapValidate", f.stage);
    else if (f.code == EXCEPTION_ACCESS_VIOLATION)
        std::snprintf(text, sizeof text, "%s | %s %s | %s+0x%llx | %s", f.stage, f.write ? "write" : "read",
                      f.place_kind, f.module, static_cast<unsigned long long>(f.offset),
                      f.caught ? "caught" : "uncaught");
    else
        std::snprintf(text, sizeof text, "%s | exception 0x%08lx | %s+0x%llx | %s", f.stage,
                      static_cast<unsigned long>(f.code), f.module, static_cast<unsigned long long>(f.offset),
                      f.caught ? "caught" : "uncaught");
    return text;
}

struct kind_record {
    unsigned long long count = 0;
    std::string first;  // the first input of the kind, as hex
    std::string file;
};

// A DER file, or a text file of hexadecimal inputs, one per line.
bool read_inputs(const std::string& path, std::vector<bytes>& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    const bytes data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const bool text = !data.empty() && std::all_of(data.begin(), data.end(), [](std::uint8_t b) {
        return std::isxdigit(b) || std::isspace(b);
    });
    if (!text) {
        out.push_back(data);
        return !data.empty();
    }
    std::string line;
    for (std::size_t i = 0; i <= data.size(); ++i) {
        if (i < data.size() && data[i] != '\n') {
            if (std::isxdigit(data[i]))
                line.push_back(static_cast<char>(data[i]));
            continue;
        }
        if (line.size() % 2)
            return false;
        if (!line.empty())
            out.push_back(crypto::hex_decode(line.c_str()));
        line.clear();
    }
    return !out.empty();
}

bool from_hex_text(const std::string& text, bytes& out)
{
    out.clear();
    std::string digits;
    for (const char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            digits.push_back(c);
        else if (!std::isspace(static_cast<unsigned char>(c)))
            return false;
    if (digits.size() % 2)
        return false;
    out = crypto::hex_decode(digits.c_str());
    return !out.empty();
}

std::wstring module_folder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    const auto slash = folder.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L"." : folder.substr(0, slash);
}

std::string narrow(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? static_cast<std::size_t>(size) : 1, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
    out.resize(std::strlen(out.c_str()));
    return out;
}

std::wstring widen(const std::string& text)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(size > 0 ? static_cast<std::size_t>(size) : 1, L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], size);
    out.resize(std::wcslen(out.c_str()));
    return out;
}

// ---------------------------------------------------------------------------
// Shrinking a faulting input.

// The k-th element of the tree in document order, with the list holding it.
wine_fuzz::element* nth_element(std::vector<wine_fuzz::element>& list, std::size_t& k,
                                std::vector<wine_fuzz::element>*& holder, std::size_t& index)
{
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (k == 0) {
            holder = &list;
            index = i;
            return &list[i];
        }
        --k;
        if (auto* found = nth_element(list[i].children, k, holder, index))
            return found;
    }
    return nullptr;
}

std::size_t count_elements(const std::vector<wine_fuzz::element>& list)
{
    std::size_t n = list.size();
    for (const auto& e : list)
        n += count_elements(e.children);
    return n;
}

// Whether the input shows a fault of the given kind.
bool shows_kind(harness& h, const bytes& input, const std::string& kind)
{
    input_fault_count = 0;
    bool made_context = false;
    h.run(input, made_context);
    for (int i = 0; i < std::min(input_fault_count, faults_kept); ++i)
        if (kind_of(input_faults[i]) == kind)
            return true;
    return false;
}

// Removes elements (last first, so that the earlier ones keep their place in
// document order) and shortens contents while the kind of fault stays.
bytes minimize(harness& h, const bytes& input, const std::string& kind)
{
    bytes best = input;
    for (bool progress = true; progress;) {
        progress = false;
        wine_fuzz::element root;
        bytes tail;
        if (!wine_fuzz::parse(best, root, tail))
            break;
        std::vector<wine_fuzz::element> top{root};
        const auto attempt = [&](const std::vector<wine_fuzz::element>& candidate_top) {
            bytes candidate;
            for (const auto& e : candidate_top)
                wine_fuzz::encode_to(e, candidate);
            if (candidate.size() >= best.size() || !shows_kind(h, candidate, kind))
                return false;
            best = candidate;
            progress = true;
            return true;
        };
        if (!tail.empty() && attempt(top))
            continue;
        for (std::size_t k = count_elements(top); k-- > 1;) {
            for (int edit = 0; edit < 4; ++edit) {
                std::vector<wine_fuzz::element> candidate = top;
                std::size_t at = k;
                std::size_t index = 0;
                std::vector<wine_fuzz::element>* holder = nullptr;
                wine_fuzz::element* e = nth_element(candidate, at, holder, index);
                if (!e)
                    break;
                if (edit == 0) {
                    holder->erase(holder->begin() + static_cast<std::ptrdiff_t>(index));
                } else if (e->shape != wine_fuzz::element::form::primitive || e->content.empty()) {
                    break;
                } else if (edit == 1) {
                    e->content.clear();
                } else if (edit == 2) {
                    e->content.resize(e->content.size() / 2);
                } else {
                    e->content.pop_back();
                }
                if (attempt(candidate)) {
                    top = std::move(candidate);
                    break;
                }
            }
        }
    }
    return best;
}

struct options {
    unsigned long long seed = 1;
    unsigned long long runs = 0;
    double seconds = 30;
    std::wstring findings;
    std::vector<bytes> replay;
    std::vector<std::string> replay_names;
    bool minimize = false;
    bool usage_error = false;
};

options parse_options(int argc, char** argv)
{
    options o;
    bool seconds_given = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--seed" && has_value) {
            o.seed = std::strtoull(argv[++i], nullptr, 0);
        } else if (a == "--runs" && has_value) {
            o.runs = std::strtoull(argv[++i], nullptr, 10);
            if (!seconds_given)
                o.seconds = 0;
        } else if (a == "--seconds" && has_value) {
            o.seconds = std::strtod(argv[++i], nullptr);
            seconds_given = true;
        } else if (a == "--findings" && has_value) {
            o.findings = widen(argv[++i]);
        } else if (a == "--input" && has_value) {
            std::vector<bytes> inputs;
            if (!read_inputs(argv[++i], inputs)) {
                std::fprintf(stderr, "cannot read %s\n", argv[i]);
                o.usage_error = true;
            }
            for (std::size_t k = 0; k < inputs.size(); ++k) {
                o.replay.push_back(inputs[k]);
                o.replay_names.push_back(inputs.size() == 1 ? argv[i]
                                                            : std::string(argv[i]) + ":" + std::to_string(k + 1));
            }
        } else if (a == "--minimize") {
            o.minimize = true;
        } else if (a == "--hex" && has_value) {
            bytes data;
            if (!from_hex_text(argv[++i], data)) {
                std::fprintf(stderr, "not hexadecimal: %s\n", argv[i]);
                o.usage_error = true;
            }
            o.replay.push_back(data);
            o.replay_names.push_back("hex " + std::to_string(o.replay.size()));
        } else {
            std::fprintf(stderr, "unknown or incomplete option: %s\n", a.c_str());
            o.usage_error = true;
        }
    }
    return o;
}

class reporter {
public:
    reporter(std::wstring folder, bool quiet_inputs) : folder_(std::move(folder)), replaying_(quiet_inputs) {}

    // Called after every input that faulted.
    void faulted(const bytes& input, const std::string& name)
    {
        ++inputs_;
        const int recorded = std::min(input_fault_count, faults_kept);
        std::string file;
        if (saved_ < most_saved) {
            const std::wstring path = folder_ + L"\\" + widen(name) + L".der";
            const HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            if (f != INVALID_HANDLE_VALUE) {
                DWORD written = 0;
                WriteFile(f, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
                CloseHandle(f);
                file = narrow(path);
                ++saved_;
            }
        }
        const bool print = replaying_ || printed_ < most_printed;
        if (print)
            std::printf("fault in input %s (%llu bytes, %d faults):\n", name.c_str(),
                        static_cast<unsigned long long>(input.size()), input_fault_count);
        for (int i = 0; i < recorded; ++i) {
            const fault& f = input_faults[i];
            faults_ += 1;
            if (!f.caught)
                ++uncaught_;
            if (f.code == 0xC0000374 && std::strcmp(f.module, "heap") == 0)
                ++heap_;
            kind_record& k = kinds_[kind_of(f)];
            if (k.count++ == 0) {
                k.first = hex(input);
                k.file = file;
            }
            if (print)
                std::printf("  %s\n", describe(f).c_str());
        }
        faults_ += static_cast<unsigned long long>(input_fault_count - recorded);
        if (print) {
            std::printf("  input: %s\n", hex(input).c_str());
            if (!file.empty())
                std::printf("  saved as %s\n", file.c_str());
            ++printed_;
        } else if (printed_ == most_printed) {
            std::printf("(further faulting inputs are counted and saved, not printed)\n");
            ++printed_;
        }
        std::fflush(stdout);
    }

    void summary() const
    {
        std::printf("faults: %llu in %llu inputs (%llu uncaught, %llu heap validations failed); %zu kinds\n", faults_,
                    inputs_, uncaught_, heap_, kinds_.size());
        std::vector<std::pair<std::string, kind_record>> sorted(kinds_.begin(), kinds_.end());
        std::sort(sorted.begin(), sorted.end(),
                  [](const auto& a, const auto& b) { return a.second.count > b.second.count; });
        for (const auto& [kind, record] : sorted) {
            std::printf("  %6llu  %s\n", record.count, kind.c_str());
            std::printf("          first: %s\n", record.file.empty() ? record.first.c_str() : record.file.c_str());
        }
    }

    unsigned long long faults() const { return faults_; }

private:
    static constexpr unsigned long long most_saved = 5000;
    static constexpr unsigned long long most_printed = 20;
    std::wstring folder_;
    bool replaying_;
    unsigned long long inputs_ = 0;
    unsigned long long faults_ = 0;
    unsigned long long uncaught_ = 0;
    unsigned long long heap_ = 0;
    unsigned long long saved_ = 0;
    unsigned long long printed_ = 0;
    std::map<std::string, kind_record> kinds_;
};

}  // namespace

int main(int argc, char** argv)
{
    // Lines end in a line feed alone: the output is read by shell scripts.
    _setmode(_fileno(stdout), _O_BINARY);
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    const options o = parse_options(argc, argv);
    if (o.usage_error)
        return 2;

    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    static guarded_memory memory;
    guarded = &memory;
    if (!memory.ready()) {
        std::printf("cannot set up the guarded places\n");
        return 2;
    }
    if (!install_context_hook()) {
        std::printf("cannot find this program's import of CertCreateCertificateContext\n");
        return 2;
    }
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
        std::printf("cannot open a verify context of the RSA/AES provider: 0x%08lx\n",
                    static_cast<unsigned long>(GetLastError()));
        return 2;
    }
    harness h(provider);

    const std::wstring findings = o.findings.empty() ? module_folder() + L"\\wine-fuzz-findings" : o.findings;
    CreateDirectoryW(findings.c_str(), nullptr);
    const std::wstring last = findings + L"\\last-fault-input.der";
    if (last.size() < MAX_PATH)
        std::wcscpy(last_fault_path, last.c_str());

    AddVectoredExceptionHandler(1, on_exception);
    SetUnhandledExceptionFilter(on_unhandled);

    // Replaying given inputs.
    if (!o.replay.empty()) {
        reporter report(findings, true);
        for (std::size_t i = 0; i < o.replay.size(); ++i) {
            input_fault_count = 0;
            bool made_context = false;
            const tallies before = h.counts();
            h.run(o.replay[i], made_context);
            const tallies& after = h.counts();
            std::printf("%s: %llu bytes, %s%s%s\n", o.replay_names[i].c_str(),
                        static_cast<unsigned long long>(o.replay[i].size()),
                        made_context ? "certificate context made" : "refused",
                        after.keys > before.keys ? ", key imported" : "",
                        after.client_auth > before.client_auth ? ", client authentication" : "");
            if (!input_fault_count)
                continue;
            const std::string kind = kind_of(input_faults[0]);
            report.faulted(o.replay[i], "replay-" + std::to_string(i + 1));
            if (o.minimize) {
                const bytes smallest = minimize(h, o.replay[i], kind);
                std::printf("  shrunk to %llu bytes, still %s:\n  %s\n", static_cast<unsigned long long>(smallest.size()),
                            kind.c_str(), hex(smallest).c_str());
            }
        }
        report.summary();
        std::fflush(stdout);
        return report.faults() ? 1 : 0;
    }

    // The seeds: each must read back as the same bytes through the mutator's
    // tree and give a certificate context, or the run would test nothing.
    std::vector<bytes> seeds;
    for (std::size_t i = 0; i < wine_fuzz::seed_file_count; ++i) {
        const auto& s = wine_fuzz::seed_files[i];
        seeds.emplace_back(s.data, s.data + s.size);
        wine_fuzz::element root;
        bytes tail;
        if (!wine_fuzz::parse(seeds.back(), root, tail) || wine_fuzz::encode(root, tail) != seeds.back()) {
            std::printf("seed %s does not read back as itself through the element tree\n", s.name);
            return 2;
        }
    }
    std::printf("wine certificate fuzzer: seed %llu, %zu seed certificates, ", o.seed, seeds.size());
    if (o.runs)
        std::printf("%llu inputs", o.runs);
    if (o.runs && o.seconds > 0)
        std::printf(" or ");
    if (o.seconds > 0)
        std::printf("%.0f s", o.seconds);
    if (!o.runs && o.seconds <= 0)
        std::printf("no bound");
    std::printf(", findings in %s\n", narrow(findings).c_str());
    std::fflush(stdout);

    reporter report(findings, false);
    wine_fuzz::mutator mutate(o.seed, seeds, largest_input);
    const ULONGLONG start = GetTickCount64();
    ULONGLONG last_progress = start;
    unsigned long long inputs = 0;
    unsigned long long with_context = 0;
    bool seeds_sound = true;
    for (;;) {
        const bool seed_input = inputs < seeds.size();
        if (!seed_input) {
            if (o.runs && inputs >= o.runs)
                break;
            if (o.seconds > 0 && static_cast<double>(GetTickCount64() - start) / 1000.0 >= o.seconds)
                break;
        }
        const bytes input = seed_input ? seeds[inputs] : mutate.next();
        input_fault_count = 0;
        bool made_context = false;
        h.run(input, made_context);
        if (made_context) {
            ++with_context;
            mutate.keep(input);
        } else if (seed_input) {
            std::printf("seed %s gives no certificate context\n", wine_fuzz::seed_files[inputs].name);
            seeds_sound = false;
        }
        if (input_fault_count) {
            const std::string name = seed_input ? std::string("seed-") + wine_fuzz::seed_files[inputs].name
                                                : std::to_string(o.seed) + "-" + std::to_string(inputs);
            report.faulted(input, name);
        }
        ++inputs;
        if (h.heap_damaged) {
            std::printf("a heap of the process is damaged: the run stops here (input %llu)\n", inputs - 1);
            break;
        }
        const ULONGLONG now = GetTickCount64();
        if (now - last_progress >= 10000) {
            last_progress = now;
            std::printf("... %llu inputs, %.0f s, %llu faults so far\n", inputs,
                        static_cast<double>(now - start) / 1000.0, report.faults());
            std::fflush(stdout);
        }
    }
    const double elapsed = static_cast<double>(GetTickCount64() - start) / 1000.0;
    const tallies& t = h.counts();
    std::printf("inputs: %llu in %.1f s (%.0f inputs/s), seed %llu\n", inputs, elapsed,
                elapsed > 0 ? static_cast<double>(inputs) / elapsed : 0.0, o.seed);
    std::printf("passes: %llu; certificate contexts %llu (inputs with one: %llu), descriptions %llu, "
                "client authentication %llu, keys imported %llu, viewer texts %llu, answers %llu\n",
                t.passes, t.contexts, with_context, t.descriptions, t.client_auth, t.keys, t.viewer_texts, t.answers);
    if (guarded->missed())
        std::printf("parts left unguarded (no place free): %llu\n", static_cast<unsigned long long>(guarded->missed()));
    report.summary();
    // A run whose inputs mostly stop at the check reaches none of the
    // decoders it is for: that is a failure of the fuzzer itself.
    const bool reached = inputs > 0 && with_context * 10 >= inputs;
    if (!seeds_sound || !reached) {
        std::printf("the fuzzer did not reach the decoders (%llu of %llu inputs made a certificate context)\n",
                    with_context, inputs);
        std::fflush(stdout);
        return 2;
    }
    std::fflush(stdout);
    return report.faults() ? 1 : 0;
}
