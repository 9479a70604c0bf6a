#pragma once
// Checks certificate bytes before the CryptoAPI decoder sees them. The
// system's decoder copies from a BIT STRING without its unused-bits octet as
// if that octet were there, reading and writing past its buffers; it follows
// forms that DER does not have (indefinite lengths, elements it takes whole
// without reading them), where a looser check and the decoder part ways; and
// it trusts the content of what it reads: a BMPString of an odd length, an
// empty OBJECT IDENTIFIER or one whose last octet promises more, a general
// name it steps over by the wrong count. It also reads what DER does not
// allow in a way that misleads: a time with a zone offset it applies with the
// wrong sign, or without seconds or a zone, and a name whose NUL character
// cuts the text it makes of it. So the check reads the first element of the
// bytes completely, as DER with X.690's content rules, and refuses whatever
// it cannot read that way. Certificates from a page, a
// token or a device, the extension values decoded after them and the RSA
// key bits are checked here first.
#include <cstddef>
#include <cstdint>

namespace crypto::util::der {

enum class check_result {
    sound,
    // The input, or an enclosing element, ends before an element does.
    ends_early,
    // Anything else that is not DER, or a value the decoder cannot take.
    refused,
};

// Every check reads the first element of data, and inside it every element
// of the constructed form, at most 64 levels deep: one-byte tags, definite
// lengths of at most four bytes, each element exactly within its parent.
// Every BIT STRING must be primitive and hold its unused-bits octet (0 to
// 7). The universal types keep their content rules: an OBJECT IDENTIFIER
// has at least one octet, no subidentifier starting with 0x80 and a last
// octet below 0x80; a BOOLEAN has one octet, a NULL none, an INTEGER at
// least one; a BMPString has an even number of octets, a UniversalString a
// multiple of four; none of these, nor a BIT STRING, is constructed. Times
// have DER's form (crypto/util/der_content.h): a UTCTime is YYMMDDHHMMSSZ, a
// GeneralizedTime YYYYMMDDHHMMSS with an optional fraction that ends in no 0,
// then Z, every field within the calendar's ranges; neither is constructed.
// No string value of a name (an attribute of a Name: the issuer and subject
// of a certificate, a directory name), and no rfc822Name, dNSName or URI
// among general names, holds the character U+0000.

// A certificate, signed or not (the decoder takes the bytes as a bare
// TBSCertificate when they do not read as a signed one): the issuer and
// subject unique identifiers ([1] and [2]) among the children of the first
// element and of its first child are BIT STRINGs too. The values of the
// extensions that check_extension knows are read for the times and names
// above as well: a time or a name there that breaks those rules refuses the
// certificate (other faults of a value are left to check_extension, which
// refuses that value alone). Bytes after the first element are not read, as
// the decoder does not read them; they are not part of the certificate.
check_result check_certificate(const std::uint8_t* data, std::size_t size);

// The value of an extension that is handed to the system's decoder, by the
// extension's OID. The value must be exactly one element, with the outer
// tag of that extension's structure; an OID not known here is refused. For
// CRL distribution points the reasons ([1]) of each distribution point are
// BIT STRINGs too; for the private key usage period its notBefore [0] and
// notAfter [1] are GeneralizedTimes. Among general names (alternative names, the authority
// key identifier's issuer, the full name and CRL issuer of a distribution
// point) each entry must have one of GeneralName's own encodings, with the
// names that hold structures constructed so that they are read too; a
// registeredID ([8]) is refused: the decoder steps over it by the length of
// the text it makes of it, not by its own length.
check_result check_extension(const char* oid, const std::uint8_t* data, std::size_t size);

// The bits of a subject public key, as the key import decodes them: exactly
// one element, a SEQUENCE (RSAPublicKey) for the RSA algorithm OID.
check_result check_public_key(const char* algorithm_oid, const std::uint8_t* data, std::size_t size);

}  // namespace crypto::util::der
