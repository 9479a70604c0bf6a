#include <windows.h>
#include <wincrypt.h>

#include <stdexcept>

#include "crypto/csp/context.h"
#include "crypto/csp/key.h"
#include "crypto/csp/key_blobs.h"
#include "crypto/csp/provider_sizes.h"
#include "crypto/csp/win32_exception.h"
#include "crypto/csp/x509store.h"
#include "crypto/encoding/base64.h"
#include "crypto/secure_wipe.h"
#include "messages/commands.h"

namespace messages {
namespace {

// Unwraps the session key of "encryptedKey" inside the user's container: the
// sender's ephemeral public key, imported under the user's key, gives the
// agreement key that unwraps the session key (kept exportable).
crypto::csp::key import_encrypted_key(const crypto::csp::crypt_context& container,
                                      const crypto::csp::key& user_key, const json_tree& encrypted_key)
{
    const crypto::csp::session_key_info session(encrypted_key.get_child("sessionKey"));
    const crypto::csp::ephemeral_key_info ephemeral(encrypted_key.get_child("ephemeralKey"));
    // A container that did not open is reported with the open's own error.
    if (!container.handle() && container.open_error())
        throw crypto::csp::win32_exception(container.open_error());
    auto agreement = user_key.import_public_key(ephemeral);
    agreement.set_export_algorithm();
    return agreement.import_session_key(session);
}

}  // namespace

// "Decrypt": re-wraps a GOST 28147-89 session key sent to the user for the
// party whose public-key blob is "serverPublicKey"; the key never leaves the
// provider. The result is the base64 SIMPLEBLOB for the server.
command_result decrypt::execute(const json_tree& arguments) const
{
    const std::string thumbprint = arguments.get<std::string>("thumbprint");
    std::string pin = arguments.get<std::string>("pin", std::string());
    const crypto::wipe_on_exit<std::string> wipe_pin(pin);

    const crypto::csp::x509store store;
    const auto certificate = store.find_by_thumbprint(thumbprint);
    const crypto::csp::crypt_context container(certificate, pin, true);
    const crypto::csp::key user_key(container);

    const json_tree encrypted_key = arguments.get_child("encryptedKey");
    const auto session_key = import_encrypted_key(container, user_key, encrypted_key);

    const crypto::csp::key second_user_key(container);
    const auto server_blob = crypto::base64_decode(arguments.get<std::string>("serverPublicKey"));
    auto server_key = second_user_key.import_blob(server_blob);
    server_key.set_export_algorithm();

    crypto::byte_vector blob;
    const auto outcome = crypto::csp::read_sized(
        [&](BYTE* data, DWORD* length) {
            return CryptExportKey(session_key.handle(), server_key.handle(), SIMPLEBLOB, 0, data, length) != FALSE;
        },
        blob);
    if (outcome == crypto::csp::sized_read::failed)
        throw crypto::csp::win32_exception();
    // A blob whose size is past the provider limit, or an empty one, holds no session key.
    if (outcome == crypto::csp::sized_read::oversized || blob.empty())
        throw std::runtime_error("Invalid session key blob");
    return crypto::base64_encode(blob);
}

}  // namespace messages
