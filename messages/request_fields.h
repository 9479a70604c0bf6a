#pragma once
// The argument fields that CreateRequest, CreateRequestHW and WriteCertificate
// read alike: the keys of a request, optional texts, the crypto standard, the
// integrity digest of a request and the optional fields of the encoders.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crypto/util/request_encoders.h"
#include "messages/json.h"

namespace messages {

// The keys that every request names, read in this order: "reader",
// "container", "subject_quoted", "eku", "cryptoStandart", "export",
// "hash_quoted". A missing key throws the tree's ptree_error.
struct request_keys {
    std::string reader;
    std::string container;
    std::string subject;
    std::vector<std::string> usages;
    std::string standard_text;
    std::string exportable;
    std::string hash;
};

request_keys read_request_keys(const json_tree& arguments);

// An optional key: empty when absent.
std::string optional_text(const json_tree& arguments, const char* key);

// The text, or null when it is empty.
const char* or_null(const std::string& text);

// Whether the texts are equal with ASCII letters compared without case.
bool equal_ignoring_ascii_case(const std::string& a, const char* b);

// "gost2001" 0, "gost2012-256" 1, "gost2012-512" 2 (any letter case), anything else 1.
std::int32_t crypto_standard(const std::string& text);

// Whether the SHA-1 of the subject, the EKU elements and "export", one after
// the other, equals the request's hexadecimal digest. An empty text guards
// nothing: "Fatal error!" (std::runtime_error).
bool integrity_holds(const std::string& subject, const std::vector<std::string>& usages,
                     const std::string& exportable, const std::string& hash);

// The optional fields of a request, each empty when absent; alt_name is set
// when "subjectAltName" is present.
struct request_options {
    std::string start_date;           // "certStartDate"
    std::string expiration_date;      // "certExpirationDate"
    std::string period;               // "certPeriod"
    std::string policy_level;         // "policyLevel"
    std::string template_oid;         // "templateOid"
    std::optional<std::uint32_t> identification_kind;  // "identificationKind" as strtoul reads it
    std::string signing_tool;         // "userCsp"
    std::unique_ptr<crypto::util::subject_alt_name> alt_name;
};

request_options read_request_options(const json_tree& arguments);

}  // namespace messages
