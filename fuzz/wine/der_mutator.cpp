#include "der_mutator.h"

#include "crypto/encoding/hex.h"
#include "crypto/util/der.h"
#include "crypto/util/der_head.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <string>
#include <utility>

namespace wine_fuzz {
namespace {

constexpr int deepest = 64;
constexpr std::size_t kept_most = 256;

// Tags an element is moved to: the universal types the decoders branch on,
// SEQUENCE and SET, and the context tags of the certificate and its
// extensions (GeneralName choices among them).
constexpr std::uint8_t interesting_tags[] = {
    0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x0C, 0x13, 0x1C, 0x1E, 0x30, 0x31,
    0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8,
    0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88,
};
// The string types of name values and texts.
constexpr std::uint8_t string_tags[] = {0x0C, 0x12, 0x13, 0x14, 0x15, 0x16, 0x19, 0x1A,
                                        0x1B, 0x1C, 0x1E, 0x04, 0x80, 0x81, 0x82, 0x86};

// Small elements worth having anywhere: empty and one-octet forms of the
// types above, odd-length BMPStrings, GeneralName choices (a registeredID
// among them), empty and indefinite constructions.
const char* const element_bank[] = {
    "0600", "06012a", "06022a86", "06032a0304", "0500", "0101ff", "0200", "020100", "020900ffffffffffffffff",
    "1e0141", "1e03004142", "1c0141", "1c020041", "1c0400000041", "0c00", "0c01c3", "0c02c328", "1300",
    "8000", "8100", "8200", "820141", "8300", "8400", "84023000", "a400", "a4023000", "a40431023000",
    "8500", "8600", "860141", "8700", "870101", "87050102030405", "8800", "88032a0304", "880100",
    "a000", "a0023000", "a0050603" "2a0304", "a8023000", "3000", "3100", "0400", "040100", "0301" "00",
    "03020780", "0302ff00", "3003" "06012a", "3080" "0000", "a080" "0000", "0480" "0000",
    "30050603" "2a0304", "300a0603" "550403" "1e0141",
};

// OIDs of the extensions, name attributes and key algorithms the decoders
// know: an extension value moved under another extension's OID is decoded
// as that extension.
// The first extension_oids are extension OIDs.
constexpr std::size_t extension_oids = 24;
const char* const oid_bank[] = {
    "2.5.29.14", "2.5.29.15", "2.5.29.16", "2.5.29.17", "2.5.29.18", "2.5.29.19", "2.5.29.31", "2.5.29.32",
    "2.5.29.35", "2.5.29.37", "2.5.29.1", "2.5.29.3", "2.5.29.7", "2.5.29.30", "2.5.29.46",
    "1.3.6.1.5.5.7.1.1", "1.3.6.1.5.5.7.1.11", "1.2.643.100.111", "1.2.643.100.112", "1.2.643.100.114",
    "1.2.643.2.2.49.2", "1.3.6.1.4.1.311.21.7", "1.3.6.1.4.1.311.20.2", "1.3.6.1.4.1.311.21.10",
    "2.5.4.3", "2.5.4.6", "2.5.4.10", "2.5.4.11", "2.5.4.9", "1.2.840.113549.1.9.1", "1.2.643.100.1",
    "1.2.643.3.131.1.1", "1.2.643.100.3", "0.9.2342.19200300.100.1.25",
    "1.2.840.113549.1.1.1", "1.2.840.113549.1.1.11", "1.2.840.10040.4.1", "1.2.840.10046.2.1",
    "1.2.840.10045.2.1", "1.2.643.7.1.1.1.1", "1.2.643.7.1.1.1.2", "1.2.643.2.2.19",
    "1.3.6.1.5.5.7.3.2", "1.3.6.1.5.5.7.3.4", "2.5.29.37.0",
};

bool read_all(const std::uint8_t* data, std::size_t size, std::vector<element>& out, int depth);

// One element at data[at]; at moves past it. Only the shortest length form
// is taken, so that writing the tree out again gives the same bytes.
bool read_element(const std::uint8_t* data, std::size_t size, std::size_t& at, element& e, int depth)
{
    crypto::util::der::head h;
    if (!crypto::util::der::read_head(data + at, size - at, h) || h.indefinite || (h.tag & 0x1F) == 0x1F)
        return false;
    bytes shortest;
    crypto::util::der::put_length(shortest, h.length);
    if (h.size != 1 + shortest.size())
        return false;
    const std::uint8_t tag = h.tag;
    const std::size_t head = h.size;
    const std::size_t length = h.length;
    const std::uint8_t* content = data + at + head;
    e = element{};
    e.tag = tag;
    if ((tag & 0x20) && depth < deepest && read_all(content, length, e.children, depth + 1)) {
        e.shape = element::form::constructed;
    } else if (tag == 0x04 && length >= 2 && depth < deepest && read_all(content, length, e.children, depth + 1)) {
        e.shape = element::form::wrapped;
    } else if (tag == 0x03 && length >= 3 && content[0] == 0 && depth < deepest &&
               read_all(content + 1, length - 1, e.children, depth + 1)) {
        e.shape = element::form::wrapped;
        e.leading_octet = true;
    } else {
        e.children.clear();
        e.content.assign(content, content + length);
    }
    at += head + length;
    return true;
}

bool read_all(const std::uint8_t* data, std::size_t size, std::vector<element>& out, int depth)
{
    out.clear();
    std::size_t at = 0;
    while (at < size) {
        element e;
        if (!read_element(data, size, at, e, depth))
            return false;
        out.push_back(std::move(e));
    }
    return true;
}

void encode_body(const element& e, bytes& out)
{
    if (e.shape == element::form::primitive) {
        out.insert(out.end(), e.content.begin(), e.content.end());
        return;
    }
    if (e.shape == element::form::wrapped && e.leading_octet)
        out.push_back(e.unused_bits);
    for (const auto& child : e.children)
        encode_to(child, out);
}

bytes body_of(const element& e)
{
    bytes body;
    encode_body(e, body);
    return body;
}

bool is_constructed(const element& e)
{
    return e.shape != element::form::primitive;
}

// The parts of a certificate the decoders behind the DER check read.
// A name: a SEQUENCE of SETs.
bool is_name(const element& e)
{
    if (e.tag != 0x30 || e.shape != element::form::constructed || e.children.empty())
        return false;
    for (const auto& c : e.children)
        if (c.tag != 0x31)
            return false;
    return true;
}

// An extension: OID, perhaps the critical flag, and the value's OCTET STRING.
bool is_extension(const element& e)
{
    return e.tag == 0x30 && e.shape == element::form::constructed && (e.children.size() == 2 || e.children.size() == 3) &&
           e.children.front().tag == 0x06 && e.children.back().tag == 0x04;
}

// A public key: the algorithm's SEQUENCE (OID first) and the key's BIT STRING.
bool is_public_key(const element& e)
{
    return e.tag == 0x30 && e.shape == element::form::constructed && e.children.size() == 2 &&
           e.children[0].tag == 0x30 && !e.children[0].children.empty() && e.children[0].children[0].tag == 0x06 &&
           e.children[1].tag == 0x03;
}

// Another tag of the same kind: a context tag for a context tag (a
// GeneralName choice for another), a universal one otherwise.
std::uint8_t tag_like(std::uint8_t tag, bool constructed, random_source& random)
{
    if ((tag & 0xC0) == 0x80) {
        const auto number = static_cast<std::uint8_t>(random.below(9));
        return static_cast<std::uint8_t>((constructed && random.chance(60) ? 0xA0 : 0x80) | number);
    }
    const std::uint8_t universal[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x0C, 0x13, 0x16, 0x1C, 0x1E, 0x30, 0x31};
    return universal[random.below(std::size(universal))];
}

}  // namespace

bool parse(const bytes& data, element& root, bytes& tail)
{
    std::size_t at = 0;
    if (!read_element(data.data(), data.size(), at, root, 0))
        return false;
    tail.assign(data.begin() + static_cast<std::ptrdiff_t>(at), data.end());
    return true;
}

void encode_to(const element& e, bytes& out)
{
    const bytes body = body_of(e);
    if (!e.head.empty()) {
        out.insert(out.end(), e.head.begin(), e.head.end());
    } else {
        const bytes whole = crypto::util::der::tlv(e.tag, body);
        out.insert(out.end(), whole.begin(), whole.end());
        return;
    }
    out.insert(out.end(), body.begin(), body.end());
}

bytes encode(const element& root, const bytes& tail)
{
    bytes out;
    encode_to(root, out);
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

std::uint64_t random_source::next()
{
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

mutator::mutator(std::uint64_t seed, std::vector<bytes> seeds, std::size_t largest)
    : random_(seed), seeds_(std::move(seeds)), largest_(largest)
{
    for (const auto& s : seeds_) {
        element root;
        bytes tail;
        if (parse(s, root, tail))
            seed_trees_.push_back(std::move(root));
    }
    // The banks hold the content of each OBJECT IDENTIFIER, without its head.
    for (const char* oid : oid_bank) {
        bytes encoded;
        if (crypto::util::der::object_id(oid, encoded))
            oids_.emplace_back(encoded.begin() + 2, encoded.end());
    }
}

void mutator::keep(const bytes& input)
{
    if (kept_.size() < kept_most) {
        kept_.push_back(input);
        return;
    }
    kept_[next_kept_] = input;
    next_kept_ = (next_kept_ + 1) % kept_most;
}

const bytes& mutator::pick_base()
{
    if (!kept_.empty() && random_.chance(35))
        return kept_[random_.below(kept_.size())];
    return seeds_[random_.below(seeds_.size())];
}

void mutator::collect(std::vector<element>& list, std::vector<place>& out, int depth)
{
    for (std::size_t i = 0; i < list.size(); ++i) {
        out.push_back({&list, i});
        if (depth < deepest)
            collect(list[i].children, out, depth + 1);
    }
}

bytes mutator::next()
{
    const bytes& base = pick_base();
    bytes out;
    element root;
    bytes tail;
    if (random_.chance(92) && parse(base, root, tail)) {
        std::vector<element> top{std::move(root)};
        // Most inputs are edited inside one name, the public key or one
        // extension value: there the certificate stays readable, and the
        // edits reach the decoders that read those parts later.
        const region focus = random_.chance(75) ? pick_region(top) : region{};
        const std::size_t rounds = random_.chance(25) ? 2 + random_.below(4) : 1 + random_.below(2);
        for (std::size_t r = 0; r < rounds; ++r)
            mutate_tree(top, focus);
        for (const auto& e : top)
            encode_to(e, out);
        out.insert(out.end(), tail.begin(), tail.end());
        if (random_.chance(5))
            mutate_bytes(out);
    } else {
        out = base;
        const std::size_t rounds = 1 + random_.below(3);
        for (std::size_t r = 0; r < rounds; ++r)
            mutate_bytes(out);
    }
    if (out.size() > largest_)
        out.resize(largest_);
    if (out.empty())
        out = {0x30, 0x00};
    return out;
}

mutator::region mutator::pick_region(std::vector<element>& top)
{
    std::vector<place> places;
    collect(top, places, 0);
    std::vector<place> names, keys, extensions;
    for (const auto& q : places) {
        const element& e = q.get();
        if (is_name(e))
            names.push_back(q);
        else if (is_public_key(e))
            keys.push_back(q);
        else if (is_extension(e))
            extensions.push_back(q);
    }
    const auto roll = random_.below(100);
    const std::vector<place>* chosen = roll < 22 ? &names : roll < 40 ? &keys : &extensions;
    if (chosen->empty())
        chosen = !extensions.empty() ? &extensions : !names.empty() ? &names : &keys;
    if (chosen->empty())
        return {};
    const place p = (*chosen)[random_.below(chosen->size())];
    return {&p.get(), chosen == &extensions};
}

bool mutator::mutate_tree(std::vector<element>& top, const region& focus)
{
    std::vector<place> places;
    // Earlier edits may have taken the extension apart: then it is edited as any element.
    if (focus.root && focus.extension && focus.root->children.size() >= 2) {
        element& extension = *focus.root;
        element& value = extension.children.back();
        if (random_.chance(10)) {
            // The value under another extension's OID: read by that extension's decoder.
            extension.children.front().content = oids_[random_.below(extension_oids)];
            return true;
        }
        if (value.shape == element::form::primitive) {
            places.push_back({&extension.children, extension.children.size() - 1});
        } else if (random_.chance(12) && !value.children.empty()) {
            // The value's own first element under another tag, its content
            // perhaps cut short: the decoder meets a structure it did not
            // expect, whose inner lengths may run past the value.
            element& first = value.children.front();
            const bytes body = body_of(first);
            const std::uint8_t primitive_tags[] = {0x04, 0x0C, 0x13, 0x02, 0x06, 0x05, 0x01, 0x03, 0x80, 0x82};
            const std::uint8_t tag = random_.chance(60) ? primitive_tags[random_.below(std::size(primitive_tags))]
                                                         : interesting_tags[random_.below(std::size(interesting_tags))];
            element replaced;
            replaced.tag = tag;
            replaced.content = body;
            if (random_.chance(60) && !replaced.content.empty())
                replaced.content.resize(replaced.content.size() - 1 - random_.below(std::min<std::size_t>(replaced.content.size(), 6)));
            first = std::move(replaced);
            return true;
        } else {
            collect(value.children, places, 1);
        }
    } else if (focus.root) {
        collect(focus.root->children, places, 1);
    } else {
        collect(top, places, 0);
    }
    if (places.empty())
        return false;
    const auto any = [&]() -> place { return places[random_.below(places.size())]; };
    // An element below the first one (which stays the certificate itself).
    const auto inner = [&](place& p) {
        for (int tries = 0; tries < 16; ++tries) {
            p = any();
            if (p.siblings != &top)
                return true;
        }
        return false;
    };
    const auto with = [&](place& p, auto&& wanted) {
        for (int tries = 0; tries < 24; ++tries) {
            p = any();
            if (wanted(p.get()))
                return true;
        }
        std::vector<place> matching;
        for (const auto& q : places)
            if (wanted(q.get()))
                matching.push_back(q);
        if (matching.empty())
            return false;
        p = matching[random_.below(matching.size())];
        return true;
    };

    place p = places[0];
    switch (random_.below(18)) {
    case 16:
    case 17: {  // content of a constructed element cut short or run over: inner lengths no longer fit
        if (!with(p, [](const element& e) { return is_constructed(e) && !e.children.empty(); }))
            return false;
        element& e = p.get();
        bytes body = body_of(e);
        if (random_.chance(75)) {
            body.resize(body.size() - 1 - random_.below(std::min<std::size_t>(body.size(), 8)));
        } else {
            const std::size_t extra = 1 + random_.below(8);
            for (std::size_t i = 0; i < extra; ++i)
                body.push_back(random_.chance(50) ? 0 : static_cast<std::uint8_t>(random_.next()));
        }
        e.content = std::move(body);
        e.children.clear();
        e.shape = element::form::primitive;
        e.leading_octet = false;
        e.head.clear();
        if (random_.chance(30))
            e.tag = static_cast<std::uint8_t>(e.tag & ~0x20);
        return true;
    }
    case 14:
    case 15: {  // a sibling's copy under another tag of its kind, put anywhere among the siblings
        if (!inner(p))
            return false;
        element copy = p.get();
        copy.head.clear();
        const bool constructed = is_constructed(copy);
        copy.tag = tag_like(copy.tag, constructed, random_);
        if (constructed && !(copy.tag & 0x20)) {
            copy.content = body_of(copy);
            copy.children.clear();
            copy.shape = element::form::primitive;
        }
        auto& siblings = *p.siblings;
        const std::size_t at = random_.below(siblings.size() + 1);
        siblings.insert(siblings.begin() + static_cast<std::ptrdiff_t>(at), std::move(copy));
        return true;
    }
    case 0:
        if (!inner(p))
            return false;
        retag(p.get());
        return true;
    case 1:
    case 2:
        if (!with(p, [](const element& e) { return !is_constructed(e); }))
            return false;
        edit_content(p.get());
        return true;
    case 3:
        if (!inner(p))
            return false;
        set_head(p.get());
        return true;
    case 4:  // remove
        if (!inner(p))
            return false;
        p.siblings->erase(p.siblings->begin() + static_cast<std::ptrdiff_t>(p.index));
        return true;
    case 5: {  // duplicate
        if (!inner(p))
            return false;
        element copy = p.get();
        p.siblings->insert(p.siblings->begin() + static_cast<std::ptrdiff_t>(p.index), std::move(copy));
        return true;
    }
    case 6: {  // swap with a sibling
        if (!inner(p) || p.siblings->size() < 2)
            return false;
        const std::size_t other = random_.below(p.siblings->size());
        std::swap((*p.siblings)[p.index], (*p.siblings)[other]);
        return true;
    }
    case 7: {  // insert a small element
        if (!with(p, [](const element& e) { return is_constructed(e); }))
            return false;
        auto& children = p.get().children;
        const std::size_t at = random_.below(children.size() + 1);
        children.insert(children.begin() + static_cast<std::ptrdiff_t>(at), bank_element());
        return true;
    }
    case 8: {  // splice an element of another certificate in
        if (!inner(p))
            return false;
        const std::uint8_t tag = p.get().tag;
        p.get() = donor_element(random_.chance(60) ? tag : 0);
        return true;
    }
    case 9: {  // wrap
        if (!inner(p))
            return false;
        element outer;
        const std::uint8_t wrappers[] = {0x30, 0x31, 0xA0, 0xA1, 0xA3, 0xA4, 0xA6, 0xA8, 0x04, 0x03};
        outer.tag = wrappers[random_.below(std::size(wrappers))];
        outer.shape = outer.tag & 0x20 ? element::form::constructed : element::form::wrapped;
        outer.leading_octet = outer.tag == 0x03;
        outer.children.push_back(std::move(p.get()));
        p.get() = std::move(outer);
        return true;
    }
    case 10: {  // unwrap
        if (!inner(p) || !is_constructed(p.get()))
            return false;
        std::vector<element> children = std::move(p.get().children);
        auto& siblings = *p.siblings;
        siblings.erase(siblings.begin() + static_cast<std::ptrdiff_t>(p.index));
        siblings.insert(siblings.begin() + static_cast<std::ptrdiff_t>(p.index),
                        std::make_move_iterator(children.begin()), std::make_move_iterator(children.end()));
        return true;
    }
    case 11:
        if (!with(p, [](const element& e) { return e.tag == 0x06 && !is_constructed(e); }))
            return false;
        edit_oid(p.get());
        return true;
    case 12:
        if (!with(p, [](const element& e) {
                return !is_constructed(e) && std::find(std::begin(string_tags), std::end(string_tags), e.tag) !=
                                                 std::end(string_tags);
            }))
            return false;
        edit_string(p.get());
        return true;
    default:
        if (!with(p, [](const element& e) { return e.tag == 0x02 && !is_constructed(e); }))
            return false;
        edit_integer(p.get());
        return true;
    }
}

void mutator::retag(element& e)
{
    const std::uint8_t tag = random_.chance(50) ? tag_like(e.tag, is_constructed(e), random_)
                                                : interesting_tags[random_.below(std::size(interesting_tags))];
    e.head.clear();
    if (tag & 0x20) {
        if (e.shape == element::form::primitive) {
            std::vector<element> children;
            if (read_all(e.content.data(), e.content.size(), children, 1)) {
                e.children = std::move(children);
                e.content.clear();
                e.shape = element::form::constructed;
            }
        } else {
            e.shape = element::form::constructed;
            e.leading_octet = false;
        }
    } else if (e.shape != element::form::primitive && (tag == 0x04 || tag == 0x03)) {
        e.shape = element::form::wrapped;
        e.leading_octet = tag == 0x03;
        e.unused_bits = 0;
    } else if (e.shape != element::form::primitive) {
        e.content = body_of(e);
        e.children.clear();
        e.shape = element::form::primitive;
        e.leading_octet = false;
    } else if (tag == 0x03 && random_.chance(70)) {
        e.content.insert(e.content.begin(), 0);
    }
    e.tag = tag;
}

void mutator::edit_content(element& e)
{
    bytes& c = e.content;
    const std::uint8_t values[] = {0x00, 0x01, 0x7F, 0x80, 0x81, 0xFF};
    switch (random_.below(9)) {
    case 0:
        if (!c.empty())
            c[random_.below(c.size())] ^= static_cast<std::uint8_t>(1u << random_.below(8));
        break;
    case 1:
        if (!c.empty())
            c[random_.below(c.size())] = random_.chance(50) ? values[random_.below(std::size(values))]
                                                             : static_cast<std::uint8_t>(random_.next());
        break;
    case 2:
        c.resize(c.empty() ? 0 : random_.below(c.size()));
        break;
    case 3:
        c.resize(std::min<std::size_t>(c.size(), random_.below(2)));
        break;
    case 4:
    case 5: {
        const std::size_t count = 1 + random_.below(random_.chance(20) ? 64 : 6);
        const std::size_t at = random_.below(c.size() + 1);
        bytes extra(count);
        for (auto& b : extra)
            b = random_.chance(30) ? values[random_.below(std::size(values))] : static_cast<std::uint8_t>(random_.next());
        c.insert(c.begin() + static_cast<std::ptrdiff_t>(at), extra.begin(), extra.end());
        break;
    }
    case 6:
        if (!c.empty())
            c.erase(c.begin() + static_cast<std::ptrdiff_t>(random_.below(c.size())));
        break;
    case 7:
        c.insert(c.end(), c.begin(), c.end());
        break;
    default: {
        // Content that reads as elements of its own: a value in place of a leaf.
        bytes inner;
        encode_to(bank_element(), inner);
        if (random_.chance(50))
            c = inner;
        else
            c.insert(c.end(), inner.begin(), inner.end());
        break;
    }
    }
}

void mutator::set_head(element& e)
{
    const std::size_t length = body_of(e).size();
    bytes head{e.tag};
    switch (random_.below(7)) {
    case 0:
    case 1: {  // a length a little off, either way
        const int offsets[] = {-3, -2, -1, 1, 2, 3, 5, 16, 128};
        const int offset = offsets[random_.below(std::size(offsets))];
        const long long wrong = static_cast<long long>(length) + offset;
        crypto::util::der::put_length(head, static_cast<std::size_t>(wrong < 0 ? 0 : wrong));
        break;
    }
    case 2:  // indefinite, with or without its end-of-contents octets
        head.push_back(0x80);
        if (is_constructed(e) && random_.chance(70))
            e.children.push_back(element{});
        break;
    case 3:  // a longer length form than needed
        if (length < 0x100) {
            head.insert(head.end(), {0x81, static_cast<std::uint8_t>(length)});
        } else {
            head.insert(head.end(), {0x82, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)});
        }
        break;
    case 4: {  // lengths far beyond anything there
        const bytes huge[] = {{0x84, 0xFF, 0xFF, 0xFF, 0xFF}, {0x84, 0x7F, 0xFF, 0xFF, 0xFF}, {0x84, 0x80, 0, 0, 0},
                              {0x85, 0x01, 0, 0, 0, 0},       {0x88, 0, 0, 0, 0, 0, 0, 0, 1}, {0x82, 0xFF, 0xFF},
                              {0xFF}};
        const bytes& h = huge[random_.below(std::size(huge))];
        head.insert(head.end(), h.begin(), h.end());
        break;
    }
    case 5:  // a tag of the high-number form
        head[0] = static_cast<std::uint8_t>(e.tag | 0x1F);
        head.push_back(static_cast<std::uint8_t>(random_.below(0x100)));
        crypto::util::der::put_length(head, length);
        break;
    default:  // a length with nothing of its own after the tag
        head.push_back(static_cast<std::uint8_t>(0x81 + random_.below(4)));
        break;
    }
    e.head = std::move(head);
}

void mutator::edit_oid(element& e)
{
    bytes& c = e.content;
    switch (random_.below(8)) {
    case 0:
    case 1:
    case 2:
        c = oids_[random_.below(oids_.size())];
        break;
    case 3:
        c.clear();
        break;
    case 4:
        c = {static_cast<std::uint8_t>(random_.next())};
        break;
    case 5:  // the last arc left open
        if (c.empty())
            c.push_back(0x86);
        else
            c.back() |= 0x80;
        break;
    case 6: {  // an arc too large for any integer
        const bytes big{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F};
        c.insert(c.begin() + static_cast<std::ptrdiff_t>(random_.below(c.size() + 1)), big.begin(), big.end());
        break;
    }
    default:  // an arc with a leading 0x80 octet
        c.insert(c.begin() + static_cast<std::ptrdiff_t>(random_.below(c.size() + 1)), 0x80);
        break;
    }
}

void mutator::edit_string(element& e)
{
    bytes& c = e.content;
    if (random_.chance(50))
        e.tag = string_tags[random_.below(std::size(string_tags))];
    e.head.clear();
    const bytes endings[] = {{0xC3}, {0xE2, 0x82}, {0xF0, 0x9F, 0x98}, {0xED, 0xA0, 0x80},
                             {0xC0, 0x80}, {0xFF}, {0xF4, 0x90, 0x80, 0x80}, {0x00}, {0xD8, 0x00}};
    switch (random_.below(6)) {
    case 0:  // one octet short or over: odd for BMPString, not four for UniversalString
        if (!c.empty() && random_.chance(50))
            c.pop_back();
        else
            c.push_back(0x41);
        break;
    case 1:
        c.resize(std::min<std::size_t>(c.size(), 1 + random_.below(3)));
        if (c.empty())
            c.push_back(0x41);
        break;
    case 2: {
        const bytes& end = endings[random_.below(std::size(endings))];
        c.insert(c.end(), end.begin(), end.end());
        break;
    }
    case 3: {
        const bytes& part = endings[random_.below(std::size(endings))];
        c.insert(c.begin() + static_cast<std::ptrdiff_t>(random_.below(c.size() + 1)), part.begin(), part.end());
        break;
    }
    case 4:
        c.clear();
        break;
    default:
        c.assign(1 + random_.below(300), static_cast<std::uint8_t>(0x41 + random_.below(26)));
        break;
    }
}

void mutator::edit_integer(element& e)
{
    bytes& c = e.content;
    e.head.clear();
    switch (random_.below(7)) {
    case 0:
        c.clear();
        break;
    case 1:
        c = {static_cast<std::uint8_t>(random_.next())};
        break;
    case 2:
        c = {0x00, 0x00, 0x01};
        break;
    case 3:
        c.insert(c.begin(), random_.chance(50) ? 0x00 : 0xFF);
        break;
    case 4: {
        c.assign(5 + random_.below(40), 0);
        for (auto& b : c)
            b = static_cast<std::uint8_t>(random_.next());
        break;
    }
    case 5:
        if (c.size() > 1)
            c.resize(1 + random_.below(c.size() - 1));
        break;
    default:
        c.assign(1 + random_.below(600), 0xFF);
        c[0] = 0x00;
        break;
    }
}

element mutator::bank_element()
{
    const bytes data = crypto::hex_decode(element_bank[random_.below(std::size(element_bank))]);
    element e;
    bytes tail;
    if (!parse(data, e, tail)) {
        // The indefinite ones: kept as written.
        e = element{};
        e.tag = data[0];
        e.head = {data[0], data[1]};
        e.content.assign(data.begin() + 2, data.end());
    }
    return e;
}

element mutator::donor_element(std::uint8_t preferred_tag)
{
    std::vector<element> top(1);
    bytes tail;
    const bool from_kept = !kept_.empty() && random_.chance(40) &&
                           parse(kept_[random_.below(kept_.size())], top[0], tail);
    if (!from_kept) {
        if (seed_trees_.empty())
            return bank_element();
        top[0] = seed_trees_[random_.below(seed_trees_.size())];
    }
    std::vector<place> places;
    collect(top, places, 0);
    std::vector<place> matching;
    if (preferred_tag)
        for (const auto& q : places)
            if (q.get().tag == preferred_tag)
                matching.push_back(q);
    const auto& from = matching.empty() ? places : matching;
    return from[random_.below(from.size())].get();
}

void mutator::mutate_bytes(bytes& data)
{
    if (data.empty()) {
        data = seeds_[random_.below(seeds_.size())];
        return;
    }
    switch (random_.below(6)) {
    case 0: {
        const std::size_t flips = 1 + random_.below(4);
        for (std::size_t i = 0; i < flips; ++i)
            data[random_.below(data.size())] ^= static_cast<std::uint8_t>(1u << random_.below(8));
        break;
    }
    case 1: {
        const std::uint8_t values[] = {0x00, 0x01, 0x7F, 0x80, 0x81, 0x82, 0x84, 0xFF};
        data[random_.below(data.size())] = values[random_.below(std::size(values))];
        break;
    }
    case 2:
        data.resize(random_.below(data.size()) + 1);
        break;
    case 3: {
        bytes extra(1 + random_.below(16));
        for (auto& b : extra)
            b = static_cast<std::uint8_t>(random_.next());
        data.insert(data.begin() + static_cast<std::ptrdiff_t>(random_.below(data.size() + 1)), extra.begin(),
                    extra.end());
        break;
    }
    case 4: {
        const std::size_t at = random_.below(data.size());
        const std::size_t count = 1 + random_.below(std::min<std::size_t>(data.size() - at, 16));
        data.erase(data.begin() + static_cast<std::ptrdiff_t>(at), data.begin() + static_cast<std::ptrdiff_t>(at + count));
        break;
    }
    default: {  // a run of another certificate's bytes in place of a run of these
        const bytes& other = seeds_[random_.below(seeds_.size())];
        const std::size_t from = random_.below(other.size());
        const std::size_t count = 1 + random_.below(std::min<std::size_t>(other.size() - from, 64));
        const std::size_t at = random_.below(data.size());
        const std::size_t replaced = std::min(data.size() - at, random_.below(count + 1));
        data.erase(data.begin() + static_cast<std::ptrdiff_t>(at), data.begin() + static_cast<std::ptrdiff_t>(at + replaced));
        data.insert(data.begin() + static_cast<std::ptrdiff_t>(at), other.begin() + static_cast<std::ptrdiff_t>(from),
                    other.begin() + static_cast<std::ptrdiff_t>(from + count));
        break;
    }
    }
}

}  // namespace wine_fuzz
