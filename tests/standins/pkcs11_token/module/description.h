#pragma once
// What one stand-in module shows: its slots, tokens and objects, and the
// faults it injects. Read from the JSON description file named by the
// environment variable KELVORA_PKCS11_STANDIN (see README-standin.txt).
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cryptoki_types.h"
#include "description_file.h"

namespace pkcs11_standin {

using bytes = std::vector<std::uint8_t>;

constexpr const char* description_variable = "KELVORA_PKCS11_STANDIN";

// A function answers rv from its (after + 1)-th call on.
struct fault {
    CK_RV rv = CKR_OK;
    unsigned long after = 0;
};

// Faults by function name ("C_Login", ...). overstate: a call that fills a
// buffer reports that many entries or bytes more than it wrote; pad_query: a
// size query answers that many more than needed.
struct fault_rules {
    std::map<std::string, fault> fail;
    std::map<std::string, unsigned long> overstate;
    std::map<std::string, unsigned long> pad_query;
};

struct object_description {
    CK_OBJECT_CLASS object_class = CKO_DATA;
    bool is_private = false;
    std::map<CK_ATTRIBUTE_TYPE, bytes> attributes;
    // Known to the object but reported as unavailable (length -1, CKR_OK).
    std::set<CK_ATTRIBUTE_TYPE> unavailable;
};

struct slot_description {
    CK_SLOT_ID id = 0;
    std::string description;
    bool nul_padding = false;  // the description padded with NULs, not blanks
    bool token_present = true;
    std::string label, manufacturer, model, serial;
    CK_ULONG total_memory = CK_UNAVAILABLE_INFORMATION;  // ulTotalPublicMemory
    CK_ULONG free_memory = CK_UNAVAILABLE_INFORMATION;   // ulFreePublicMemory
    CK_FLAGS token_flags = CKF_TOKEN_INITIALIZED | CKF_USER_PIN_INITIALIZED | CKF_LOGIN_REQUIRED;
    CK_VERSION hardware_version = {1, 0};
    std::vector<CK_MECHANISM_TYPE> mechanisms;
    std::string pin;
    fault_rules faults;
    // C_FindObjects never reports the end: a search that found objects
    // starts over with the first when they are given out.
    bool endless_search = false;
    std::vector<object_description> objects;
};

// What C_GetFunctionList hands out instead of the full list: another
// version, entries left NULL, or every entry after one left NULL (a list cut
// short, its place past the end zero-filled).
struct function_list_rules {
    bool altered = false;
    CK_VERSION version = {2, 40};
    std::set<std::string> null_entries;
    std::string end_after;
};

struct module_description {
    function_list_rules function_list;
    std::string log_path;
    // The file that keeps the objects the system creates on the tokens, so
    // that a later process sees them; empty: they live in this process only.
    std::string store_path;
    fault_rules faults;
    std::vector<slot_description> slots;
};

// The description of the module named module_name (compared without letter
// case). No variable, or a file without that module: no slots. A file that
// cannot be read or parsed throws std::runtime_error.
module_description read_description(const std::string& module_name);

// Appends an object created on the slot to the store file, and reads the
// store's objects of this module back into their slots (by slot id).
void store_object(const std::string& store_path, const std::string& module_name, CK_SLOT_ID slot,
                  const object_description& object);
void load_stored_objects(module_description& module, const std::string& module_name);

// A path from the description as Windows opens it: a Unix path ("/...") is
// reached through Wine's drive Z:.
using standin_common::windows_path;

}  // namespace pkcs11_standin
