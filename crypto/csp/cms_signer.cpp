#include "crypto/csp/cms_signer.h"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include "crypto/csp/provider_sizes.h"
#include "crypto/csp/signers.h"
#include "crypto/csp/win32_exception.h"
#include "crypto/signature_algorithm.h"

namespace crypto::csp {
namespace {

constexpr DWORD any_encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct message_closer {
    void operator()(HCRYPTMSG message) const { CryptMsgClose(message); }
};

// The length of the signature that the message's only signer carries, as
// the system's message decoder reads it back.
std::size_t carried_signature_size(const byte_vector& message)
{
    const std::unique_ptr<void, message_closer> decoder(
        CryptMsgOpenToDecode(any_encoding, 0, 0, 0, nullptr, nullptr));
    if (!decoder || !CryptMsgUpdate(decoder.get(), message.data(), static_cast<DWORD>(message.size()), TRUE))
        throw win32_exception();
    DWORD size = 0;
    if (!CryptMsgGetParam(decoder.get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size))
        throw win32_exception();
    std::vector<BYTE> info(std::max<DWORD>(size, sizeof(CMSG_SIGNER_INFO)), 0);
    size = static_cast<DWORD>(info.size());
    if (!CryptMsgGetParam(decoder.get(), CMSG_SIGNER_INFO_PARAM, 0, info.data(), &size))
        throw win32_exception();
    return reinterpret_cast<const CMSG_SIGNER_INFO*>(info.data())->EncryptedHash.cbData;
}

}  // namespace

cms_signer::cms_signer(certificate_ptr certificate) : certificate_(std::move(certificate)) {}

byte_vector cms_signer::sign(const byte_vector& data, bool detached) const
{
    const std::string signature_oid = certificate_ ? certificate_->signature_oid() : std::string();
    const signature_kind_info* kind = find_signature_kind(signature_oid);
    if (!kind)
        throw std::invalid_argument("Unsupported signature algorithm: " + signature_oid);

    PCCERT_CONTEXT signer_context = certificate_->context();
    CRYPT_SIGN_MESSAGE_PARA para{};
    // The structure without its optional CMS fields; its size differs between
    // 32- and 64-bit builds.
    para.cbSize = sizeof(para);
    para.dwMsgEncodingType = any_encoding;
    para.pSigningCert = signer_context;
    para.HashAlgorithm.pszObjId = const_cast<char*>(kind->digest_oid);
    para.cMsgCert = 1;
    para.rgpMsgCert = &signer_context;

    static const BYTE no_data = 0;
    const BYTE* blocks[1] = {data.empty() ? &no_data : data.data()};
    DWORD lengths[1] = {static_cast<DWORD>(data.size())};
    DWORD size = 0;
    if (!CryptSignMessage(&para, detached, 1, blocks, lengths, nullptr, &size))
        throw win32_exception();
    byte_vector message(size, 0);
    if (!CryptSignMessage(&para, detached, 1, blocks, lengths, message.data(), &size))
        throw win32_exception();
    message.resize(written_part(size, message.size()));
    // The platform builds the message around whatever the provider signed;
    // a signature of the wrong length is not answered as a message.
    const std::size_t expected = signature_size(*certificate_);
    const std::size_t carried = carried_signature_size(message);
    if (carried != expected)
        throw invalid_signature_length(expected, carried);
    return message;
}

}  // namespace crypto::csp
