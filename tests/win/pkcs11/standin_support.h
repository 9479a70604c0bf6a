#pragma once
// What the PKCS#11 tests share: token descriptions for the stand-in module,
// written to a file of the test's own and named by KELVORA_PKCS11_STANDIN,
// the stand-in's call log, and test certificates.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <boost/property_tree/ptree.hpp>

#include "certificate_builder.h"
#include "crypto/byte_vector.h"

namespace pkcs11_test {

using tree = boost::property_tree::ptree;
using bytes = crypto::byte_vector;

constexpr const char* rutoken = "rtPKCS11ECP.dll";
constexpr const char* jacarta = "jcPKCS11-2.dll";
constexpr const char* esmart = "isbc_pkcs11_main.dll";

// A description being built: modules, their slots and objects.
class description {
public:
    // The module's node ("fail", "overstate", "pad_query", "slots").
    tree& module(const std::string& name);
    // Appends a slot to the module and returns it.
    tree& add_slot(const std::string& module_name, const std::string& reader, const std::string& pin = "1234");
    const tree& root() const { return root_; }

private:
    tree root_;
};

tree certificate_object(const bytes& der, const std::string& id, const std::string& label = "certificate");
tree private_key_object(const std::string& id);
void add_object(tree& slot, const tree& object);
// slot.fail.<function> = rv (or with "after").
void inject_failure(tree& node, const std::string& function, unsigned long rv, unsigned long after = 0);
void set_number(tree& node, const std::string& group, const std::string& function, unsigned long value);
void set_mechanisms(tree& slot, const std::vector<unsigned long>& mechanisms);

// The stand-in's view of the test: while it lives, KELVORA_PKCS11_STANDIN
// names its description file; the PKCS#11 module registry is emptied when it
// goes, so that every test loads the modules afresh.
class standin_fixture : public ::testing::Test {
protected:
    standin_fixture();
    ~standin_fixture() override;

    // Writes the description (with the log file) for the next module load.
    void install(const description& tokens);
    // The log lines, optionally only those containing text.
    std::vector<std::string> log(const std::string& containing = "") const;
    void clear_log();
    // Empties the module registry (the modules that nothing else uses are
    // finalised and unloaded), so that the next operation loads them again
    // with the description installed now.
    static void unload_modules();

    std::string description_path_;
    std::string log_path_;
};

// A certificate and its thumbprint.
struct test_certificate {
    bytes der;
    std::string thumbprint;
};
test_certificate make_certificate(const std::string& algorithm, const std::string& subject);

// The stand-in's signature of data (before any reversal).
bytes standin_signature(unsigned long mechanism, const std::string& key_id, const bytes& data);
bytes reversed(bytes value);
bytes hash_of_size(std::size_t size, std::uint8_t first = 1);

}  // namespace pkcs11_test
