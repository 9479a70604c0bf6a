#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "messages/command_table.h"

namespace {

// The wire names in registration order.
const std::vector<std::string> table_order = {
    "Version", "VersionEx", "ComputeHash", "SignHash", "SignCms", "Decrypt", "SignHashArray", "ProvidersList",
    "FindContainer", "TryWithoutPin", "EncryptPin", "TryDecryptPin", "CertificateFromBase64", "CertificateToBase64",
    "CertificatesList", "FindCertificate", "SerializeCertificate", "SmartcardList", "CreateRequest",
    "WriteCertificate", "CreateRequestHW", "WriteCertificateHW",
};

TEST(CommandRows, CertificateAndSigningCommandsAreRegisteredInTableOrder)
{
    std::vector<std::string> names;
    for (const auto& row : messages::make_commands()) {
        ASSERT_TRUE(row.second) << row.first;
        names.push_back(row.first);
    }
    for (const char* name : {"SignHash", "SignCms", "Decrypt", "SignHashArray", "TryWithoutPin",
                             "CertificateFromBase64", "CertificateToBase64", "CertificatesList", "FindCertificate",
                             "SerializeCertificate"})
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    // Whatever rows exist follow the table's order, each once.
    std::size_t next = 0;
    for (const auto& name : names) {
        const auto found = std::find(table_order.begin() + static_cast<std::ptrdiff_t>(next), table_order.end(), name);
        ASSERT_NE(found, table_order.end()) << name << " out of order or repeated";
        next = static_cast<std::size_t>(found - table_order.begin()) + 1;
    }
}

}  // namespace
