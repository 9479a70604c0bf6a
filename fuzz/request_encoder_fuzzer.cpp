// The request encoders on arbitrary inputs: NUL-separated fields give the
// subject text, the EKU list (one OID a line), the three validity texts, the
// DNS names (one a line) and the UPN. Every success must be well-formed DER.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "crypto/util/request_encoders.h"

namespace {

namespace util = crypto::util;

// True when [pos, end) is a sequence of complete TLVs, constructed ones
// holding complete TLVs in turn, with lengths in their shortest form.
bool well_formed(const std::uint8_t* data, std::size_t pos, std::size_t end, int depth = 0)
{
    if (depth > 64) return false;
    while (pos < end) {
        if (end - pos < 2) return false;
        const std::uint8_t tag = data[pos];
        std::size_t length = data[pos + 1];
        pos += 2;
        if (length & 0x80) {
            const std::size_t count = length & 0x7F;
            if (count == 0 || count > 4 || end - pos < count || data[pos] == 0) return false;
            length = 0;
            for (std::size_t i = 0; i < count; ++i) length = (length << 8) | data[pos + i];
            if (length < 0x80) return false;
            pos += count;
        }
        if (end - pos < length) return false;
        if ((tag & 0x20) && !well_formed(data, pos, pos + length, depth + 1)) return false;
        pos += length;
    }
    return true;
}

void check(const util::blob_ptr& blob)
{
    if (blob && !well_formed(blob->data.get(), 0, blob->length)) std::abort();
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find('\n', start);
        out.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> fields(7);
    std::size_t field = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            if (++field == fields.size()) break;
            continue;
        }
        fields[field] += static_cast<char>(data[i]);
    }
    std::int32_t code = 0;
    const auto subject = util::encode_subject(fields[0].c_str(), &code);
    check(subject);
    util::parse_subject_text(fields[0].c_str());
    const std::vector<std::string> usages = lines(fields[1]);
    const auto eku = util::encode_enhanced_key_usage(&usages, &code);
    check(eku);
    const auto policies = util::encode_policies(fields[1].c_str(), &code);
    const auto template_ext = util::encode_certificate_template(fields[1].c_str(), &code);
    check(template_ext);
    const auto validity = util::encode_validity_attributes(fields[2].c_str(), fields[3].c_str(), fields[4].c_str(), &code);
    for (std::uint32_t i = 0; validity.slots && i < validity.count; ++i)
        if (!well_formed(validity.slots[i].data.get(), 0, validity.slots[i].length)) std::abort();
    util::subject_alt_name names{lines(fields[5]), fields[6]};
    const auto alt_name = util::encode_subject_alt_name(&names, &code);
    check(alt_name);
    const auto tool = util::encode_signing_tool(fields[0].c_str(), &code);
    const auto usage = util::encode_key_usage(&code);
    util::public_key_info key;
    key.algorithm = "1.2.643.7.1.1.1.1";
    key.key.assign(data, data + (size < 64 ? size : 64));
    if (key.key.empty()) return 0;
    const auto key_id = util::encode_subject_key_id(&key, &code);
    const std::int32_t kind = static_cast<std::int32_t>(size);
    const auto kind_blob = util::encode_integer(&kind, &code);
    const auto extensions = util::encode_extensions(usage.get(), eku.get(), key_id.get(), tool.get(),
                                                    template_ext.get(), policies.get(), kind_blob.get(),
                                                    alt_name.get(), &code);
    check(extensions);
    const std::u16string provider = u"Provider";
    const auto csp = util::encode_enrollment_csp_provider(provider.c_str(), &code);
    const auto info = util::encode_request_info(subject.get(), csp.get(), extensions.get(), &key, validity.slots.get(),
                                                validity.count, &code);
    check(info);
    const auto signed_request = util::encode_signed_request(static_cast<int>(size % 4), info.get(), key_id.get(), &code);
    check(signed_request);
    return 0;
}
