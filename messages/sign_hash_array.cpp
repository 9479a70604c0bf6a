#include "crypto/certificate_lookup.h"
#include "crypto/encoding/base64.h"
#include "crypto/secure_wipe.h"
#include "messages/answer_limit.h"
#include "messages/commands.h"
#include "messages/request_arguments.h"

namespace messages {
namespace {

// Fails as soon as the signatures alone make the answer longer than limit:
// each takes at least {"id":"<id>","sig":"<base64>"} of the answer (escaping
// only lengthens the texts), so the answer could not be written anyway, and
// the rest is not signed.
crypto::signature_check answer_size_check(std::size_t limit)
{
    if (limit == 0)
        return {};
    return [limit, least = std::size_t(0)](const std::string& id, const crypto::byte_vector& signature) mutable {
        constexpr std::size_t element_frame = sizeof(R"({"id":"","sig":""})") - 1;
        least += element_frame + id.size() + (signature.size() + 2) / 3 * 4;
        if (least > limit)
            throw answer_too_large();
    };
}

}  // namespace

// "SignHashArray": {"hashes": [{"id", "hash"}...], "thumbprint", ...} ->
// {"signatures": [{"id", "sig"}...]} in ascending id order, all signed in one
// opening of the key; the empty tree for no hashes or no certificate. Under an
// answer limit, signing stops with answer_too_large once the signatures
// cannot fit in it.
command_result sign_hash_array::execute(const json_tree& arguments) const
{
    crypto::hash_set hashes;
    for (const auto& entry : arguments.get_child("hashes")) {
        std::string id = entry.second.get<std::string>("id");
        auto hash = crypto::base64_decode(entry.second.get<std::string>("hash"));
        hashes.emplace(std::move(id), std::move(hash));  // the first entry of an id wins
    }
    if (hashes.empty())
        return json_tree();

    const std::string thumbprint = arguments.get<std::string>("thumbprint");
    std::string pin = read_pin(arguments);
    const crypto::wipe_on_exit<std::string> wipe_pin(pin);  // when it does not reach a signer
    const crypto::store_type kind = crypto::get_store_type(arguments);

    auto certificate = crypto::find_certificate_by_thumbprint(thumbprint, kind);
    if (!crypto::is_found(certificate))
        return json_tree();
    const auto algorithm = crypto::require_signature_algorithm(std::move(certificate), std::move(pin));

    json_tree signatures;
    for (const auto& signature : algorithm->sign_hashes_checked(hashes, answer_size_check(answer_limit()))) {
        json_tree element;
        element.put_child("id", json_tree(signature.first));
        element.put_child("sig", json_tree(crypto::base64_encode(signature.second)));
        signatures.push_back({std::string(), element});
    }
    json_tree answer;
    answer.put_child("signatures", signatures);
    return answer;
}

}  // namespace messages
