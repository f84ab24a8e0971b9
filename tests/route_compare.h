// Runs the two routes of the record-set calls on one text and compares them:
// the one-pass route must either decline or give exactly the document route's
// output, and must decline every text on which the document route fails.
// Shared by the routes test and the routes fuzz target.
#pragma once

#include <exception>
#include <optional>
#include <string>
#include <typeinfo>

#include "interface/record_routes.h"
#include "records/json.h"
#include "records/one_pass.h"
#include "records/output_text.h"
#include "sealing/aes_cbc.h"
#include "transform/pelmo.h"

namespace pel_routes {

struct Outcome {
    bool ok = false;
    std::string text;     // the output, when ok
    std::string failure;  // type and message, when not
};

// Encoded texts differ in every IV: each sealed "meta" is replaced by the
// JSON string of what it opens to, so two encodings of one set compare equal.
inline std::string with_metas_opened(const std::string& encoded, const std::string& key) {
    static const std::string kMember = "\"meta\":\"";
    Pelmora::AES_CBC cipher(key);
    std::string out;
    std::size_t at = 0;
    for (std::size_t found; (found = encoded.find(kMember, at)) != std::string::npos;) {
        const std::size_t first = found + kMember.size();
        const std::size_t last = encoded.find('"', first);
        if (last == std::string::npos) break;
        out.append(encoded, at, first - 1 - at);
        std::string opened;
        try {
            opened = nlohmann::json(cipher.decrypt(encoded.substr(first, last - first))).dump();
        } catch (const std::exception&) {
            opened = encoded.substr(first - 1, last + 1 - (first - 1));  // not sealed text: kept as it is
        }
        out += opened;
        at = last + 1;
    }
    return out + encoded.substr(at);
}

template <class Call>
Outcome run(Call&& call) {
    Outcome o;
    try {
        char* text = call();
        o.ok = true;
        o.text = text;
        Pelmora::release_output_text(text);
    } catch (const std::exception& e) {
        o.failure = std::string(typeid(e).name()) + ": " + e.what();
    }
    return o;
}

inline std::optional<std::string> taken(std::optional<Pelmora::OutputText> out) {
    if (!out) return std::nullopt;
    char* text = out->release();
    std::string s = text;
    Pelmora::release_output_text(text);
    return s;
}

struct Comparison {
    Outcome document;
    std::optional<std::string> one_pass;  // empty when declined
    // Empty when the routes agree; otherwise what differs.
    std::string fault;
};

inline Comparison compare_encode(const Pelmora::Pelmo& codec, const std::string& text) {
    Comparison c;
    c.document = run([&] { return Pelmora::encode_by_document(codec, text.c_str()); });
    c.one_pass = taken(Pelmora::encode_in_one_pass(codec, text));
    if (!c.one_pass) return c;
    if (!c.document.ok) {
        c.fault = "the one-pass route took a text the document route fails on: " + c.document.failure;
    } else if (with_metas_opened(*c.one_pass, codec.key()) != with_metas_opened(c.document.text, codec.key())) {
        c.fault = "outputs differ:\n one pass: " + *c.one_pass + "\n document: " + c.document.text;
    }
    return c;
}

inline Comparison compare_decode(const Pelmora::Pelmo& codec, const std::string& text, const double* query) {
    Comparison c;
    c.document = run([&] { return Pelmora::decode_by_document(codec, text.c_str(), query); });
    c.one_pass = taken(Pelmora::decode_in_one_pass(codec, text, query));
    if (!c.one_pass) return c;
    if (!c.document.ok) {
        c.fault = "the one-pass route took a text the document route fails on: " + c.document.failure;
    } else if (*c.one_pass != c.document.text) {
        c.fault = "outputs differ:\n one pass: " + *c.one_pass + "\n document: " + c.document.text;
    }
    return c;
}

}  // namespace pel_routes
