#pragma once
// The devices of the test SKF library, as its description file gives them
// (format: README-standin.txt).
#include <cstdint>
#include <string>
#include <vector>

namespace skf_standin {

using bytes = std::vector<std::uint8_t>;

// A call of one entry point on one object that fails with code once the
// first skip calls have passed.
struct failure {
    std::string function;
    unsigned skip = 0;
    std::uint32_t code = 0;
};

// A misreported size: "unterminated" (a name list without any terminating
// NUL), "query_extra N" (the size query asks for N bytes more than needed),
// "written_extra N" (the filling call reports N bytes more than it wrote).
struct quirk {
    std::string function;
    std::string kind;
    std::uint32_t amount = 0;
};

// What every object carries: its injected failures and quirks, and how many
// times it is listed (the copies after the first are named NAME#1, NAME#2,
// ... and behave as the object itself).
struct scope {
    std::vector<failure> failures;
    std::vector<quirk> quirks;
    std::uint32_t copies = 1;

    const failure* failure_of(const std::string& function) const;
    std::uint32_t quirk_amount(const std::string& function, const std::string& kind) const;
    bool has_quirk(const std::string& function, const std::string& kind) const;
};

struct container_model : scope {
    std::string name;
    bool type_written = true;
    std::uint32_t type = 1;
    bytes certificate;  // the signing certificate; empty: none
    std::uint32_t modulus = 256;  // signature length in bytes
};

struct application_model : scope {
    std::string name;
    std::string pin = "12345678";
    std::uint32_t max_retries = 10;
    std::uint32_t retries = 10;
    bool logged_in = false;  // VerifyPIN answers "already logged in"
    std::vector<container_model> containers;
};

struct device_model : scope {
    std::string name;
    bool present = true;
    std::vector<application_model> applications;
};

struct description : scope {
    bool configured = false;  // a description file was named
    std::string log_path;
    std::vector<device_model> devices;
};

// Whether a name the system passes names the object or one of its copies.
template <class Named>
bool is_named(const Named& object, const std::string& name)
{
    if (name == object.name)
        return true;
    const std::string prefix = object.name + "#";
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    std::uint64_t copy = 0;
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || copy > object.copies)
            return false;
        copy = copy * 10 + static_cast<std::uint64_t>(name[i] - '0');
    }
    return copy >= 1 && copy < object.copies;
}

// Reads the file; throws std::runtime_error naming the line of an error.
description read_description(const std::string& path);

}  // namespace skf_standin
