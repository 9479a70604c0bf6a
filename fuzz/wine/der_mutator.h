#pragma once
// The mutator of the certificate fuzzer that runs under Wine. Certificate
// bytes that do not read as DER are refused before the system's decoder sees
// them, so most edits are made on the element tree of a certificate and the
// tree is written out again with every enclosing length recomputed: an edit
// deep inside a name, a key or an extension value still gives a certificate
// that passes the DER check and reaches the decoders behind it. A few edits
// work on the plain bytes, for the check itself and the decoder of the
// certificate.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace wine_fuzz {

using bytes = std::vector<std::uint8_t>;

// One element: tag, and either its content octets or the elements inside it.
// OCTET STRINGs and BIT STRINGs whose content reads as elements (extension
// values, the RSA public key) hold those elements as children, so that edits
// inside them keep the string's own length right.
struct element {
    enum class form { primitive, constructed, wrapped };
    std::uint8_t tag = 0;
    form shape = form::primitive;
    bytes content;                   // primitive
    std::vector<element> children;  // constructed and wrapped
    bool leading_octet = false;     // wrapped: an unused-bits octet comes first
    std::uint8_t unused_bits = 0;
    // When set, written instead of the tag and length computed from the
    // content: a length that does not fit is one of the edits.
    bytes head;
};

// The first element of data as a tree, and the bytes after it. False when
// the bytes do not start with an element of one-byte tag and definite length.
bool parse(const bytes& data, element& root, bytes& tail);
// The element written out (appended to out), lengths in their shortest form.
void encode_to(const element& e, bytes& out);
// The element and the bytes after it.
bytes encode(const element& root, const bytes& tail);

// A small random source with a fixed sequence for each seed (splitmix64).
class random_source {
public:
    explicit random_source(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next();
    // 0 <= value < bound; 0 for a bound of 0.
    std::size_t below(std::size_t bound) { return bound ? static_cast<std::size_t>(next() % bound) : 0; }
    bool chance(unsigned percent) { return below(100) < percent; }

private:
    std::uint64_t state_;
};

class mutator {
public:
    // seeds: the certificates every input starts from (or from an earlier
    // input kept by keep()); largest: no input is made longer.
    mutator(std::uint64_t seed, std::vector<bytes> seeds, std::size_t largest);

    bytes next();
    // An input that went far enough to be worth mutating further (it made a
    // certificate context); the most recent few hundred are kept.
    void keep(const bytes& input);

    const std::vector<bytes>& seeds() const { return seeds_; }

private:
    struct place {
        std::vector<element>* siblings;
        std::size_t index;
        element& get() const { return (*siblings)[index]; }
    };

    // Where an input's edits go: inside one name, public key or extension
    // (root), or anywhere (null).
    struct region {
        element* root = nullptr;
        bool extension = false;
    };

    const bytes& pick_base();
    void collect(std::vector<element>& list, std::vector<place>& out, int depth);
    region pick_region(std::vector<element>& top);
    bool mutate_tree(std::vector<element>& top, const region& focus);
    void mutate_bytes(bytes& data);
    element donor_element(std::uint8_t preferred_tag);

    void retag(element& e);
    void edit_content(element& e);
    void set_head(element& e);
    void edit_oid(element& e);
    void edit_string(element& e);
    void edit_integer(element& e);
    element bank_element();

    random_source random_;
    std::vector<bytes> seeds_;
    std::vector<element> seed_trees_;
    std::vector<bytes> kept_;
    std::size_t next_kept_ = 0;
    std::size_t largest_;
    std::vector<bytes> oids_;
};

}  // namespace wine_fuzz
