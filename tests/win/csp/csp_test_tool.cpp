// Test tool for the end-to-end tests of the certificate and signing commands.
//
//   csp_test_tool make-certs < specs.json
//       Makes one certificate per element of a JSON array (keys as in
//       certificate_spec: container, key_spec ("exchange"/"signature"),
//       key_provider_info, info_container, info_provider, info_provider_type,
//       info_key_spec, key_spec_property, signature_oid, placeholder_signature,
//       subject, issuer,
//       not_before, not_after (seconds from now), usages (array; "none" for no
//       extension), serial (hex, most significant byte first), store ("MY" or
//       "none"), der (base64 bytes added to the store as they are instead of a
//       certificate made here)) and prints "<thumbprint> <base64 DER>" per
//       certificate.
//   csp_test_tool error-text CODE
//       Prints the error text the plug-in reports for a hexadecimal error code.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include "crypto/encoding/base64.h"
#include "crypto/encoding/hex.h"
#include "test_certificates.h"

namespace {

std::wstring widen(const std::string& text)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size > 0 ? size - 1 : 0), L'\0');
    if (size > 1)
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], size);
    return out;
}

DWORD key_spec(const std::string& text)
{
    if (text == "exchange")
        return AT_KEYEXCHANGE;
    if (text == "signature")
        return AT_SIGNATURE;
    return static_cast<DWORD>(std::stoul(text, nullptr, 0));
}

csp_test::certificate_spec read_spec(const boost::property_tree::ptree& tree)
{
    csp_test::certificate_spec spec;
    if (auto v = tree.get_optional<std::string>("container"))
        spec.container = widen(*v);
    if (auto v = tree.get_optional<std::string>("key_spec"))
        spec.key_spec = key_spec(*v);
    if (auto v = tree.get_optional<int>("key_provider_info"))
        spec.key_provider_info = *v != 0;
    if (auto v = tree.get_optional<std::string>("info_container"))
        spec.info_container = widen(*v);
    if (auto v = tree.get_optional<std::string>("info_provider"))
        spec.info_provider = widen(*v);
    if (auto v = tree.get_optional<unsigned long>("info_provider_type"))
        spec.info_provider_type = *v;
    if (auto v = tree.get_optional<std::string>("info_key_spec"))
        spec.info_key_spec = key_spec(*v);
    if (auto v = tree.get_optional<std::string>("key_spec_property"))
        spec.key_spec_property = key_spec(*v);
    if (auto v = tree.get_optional<std::string>("signature_oid"))
        spec.signature_oid = *v;
    if (auto v = tree.get_optional<int>("placeholder_signature"))
        spec.placeholder_signature = *v != 0;
    if (auto v = tree.get_optional<std::string>("subject"))
        spec.subject = widen(*v);
    if (auto v = tree.get_optional<std::string>("issuer"))
        spec.issuer = widen(*v);
    if (auto v = tree.get_optional<long long>("not_before"))
        spec.not_before = *v;
    if (auto v = tree.get_optional<long long>("not_after"))
        spec.not_after = *v;
    if (auto usages = tree.get_child_optional("usages")) {
        spec.usages.clear();
        if (usages->data() == "none")
            spec.no_usage_extension = true;
        for (const auto& usage : *usages)
            spec.usages.push_back(usage.second.data());
    }
    if (auto v = tree.get_optional<std::string>("serial")) {
        const auto big_endian = crypto::hex_decode(v->c_str());
        spec.serial.assign(big_endian.rbegin(), big_endian.rend());
    }
    if (auto v = tree.get_optional<std::string>("store"))
        spec.add_to_store = *v != "none";
    if (auto v = tree.get_optional<std::string>("der")) {
        const auto der = crypto::base64_decode(*v);
        spec.der.assign(der.begin(), der.end());
    }
    return spec;
}

int make_certs()
{
    const std::string input((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    std::istringstream stream(input);
    boost::property_tree::ptree specs;
    boost::property_tree::read_json(stream, specs);
    for (const auto& element : specs) {
        const auto made = csp_test::make_certificate(read_spec(element.second));
        std::cout << made.thumbprint << ' ' << crypto::base64_encode(made.der) << '\n';
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // Texts pass byte for byte: system messages end with CR LF of their own.
    _setmode(_fileno(stdout), _O_BINARY);
    try {
        const std::string command = argc > 1 ? argv[1] : "";
        if (command == "make-certs")
            return make_certs();
        if (command == "error-text" && argc > 2) {
            std::cout << csp_test::expected_error_text(static_cast<DWORD>(std::stoul(argv[2], nullptr, 16)));
            return 0;
        }
        std::cerr << "usage: csp_test_tool make-certs < specs.json | error-text CODE\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
}
