// Runs the two routes of the record-set calls on one text and compares them:
// the one-pass route must give exactly the document route's output or exactly
// its failure, type and message, or decline the text; and it may decline only
// a text whose value does not begin as an array, where no record has been
// read. Shared by the routes test and the routes fuzz target.
#pragma once

#include <exception>
#include <optional>
#include <string>
#include <typeinfo>

#include "records/json.h"
#include "records/records.h"
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

inline std::string taken(char* text) {
    std::string s = text;
    Pelmora::release_output_text(text);
    return s;
}

template <class Call>
Outcome run(Call&& call) {
    Outcome o;
    try {
        o.text = taken(call());
        o.ok = true;
    } catch (const std::exception& e) {
        o.failure = std::string(typeid(e).name()) + ": " + e.what();
    }
    return o;
}

// Whether the JSON value of `text` begins as an array: its first byte after an
// optional byte order mark and JSON blanks is '['.
inline bool begins_as_array(const std::string& text) {
    std::size_t i = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) ++i;
    return i < text.size() && text[i] == '[';
}

struct Comparison {
    Outcome document;
    Outcome one_pass;
    const char* declined = nullptr;  // the one-pass route's reason, when it declined
    // Empty when the routes agree; otherwise what differs.
    std::string fault;
};

// Compares the outcomes; `same` compares two outputs.
template <class OnePassCall, class Same>
Comparison compare(const std::string& text, Outcome document, OnePassCall&& one_pass, Same&& same) {
    Comparison c;
    c.document = std::move(document);
    try {
        Pelmora::OnePass result = one_pass();
        c.declined = result.declined;
        if (result.output) {
            c.one_pass.text = taken(result.output->release());
            c.one_pass.ok = true;
        }
    } catch (const std::exception& e) {
        c.one_pass.failure = std::string(typeid(e).name()) + ": " + e.what();
    }
    if (c.declined != nullptr) {
        if (begins_as_array(text)) c.fault = std::string("declined a text that begins as an array: ") + c.declined;
        return c;
    }
    if (c.one_pass.ok != c.document.ok) {
        c.fault = c.one_pass.ok ? "the one-pass route took a text the document route fails on: " + c.document.failure
                                : "the one-pass route failed on a text the document route takes: " +
                                      c.one_pass.failure;
    } else if (c.one_pass.ok && !same(c.one_pass.text, c.document.text)) {
        c.fault = "outputs differ:\n one pass: " + c.one_pass.text + "\n document: " + c.document.text;
    } else if (!c.one_pass.ok && c.one_pass.failure != c.document.failure) {
        c.fault = "failures differ:\n one pass: " + c.one_pass.failure + "\n document: " + c.document.failure;
    }
    return c;
}

inline Comparison compare_encode(const Pelmora::Pelmo& codec, const std::string& text) {
    return compare(
        text, run([&] { return Pelmora::encode_by_document(codec, text.c_str()); }),
        [&] { return Pelmora::encode_in_one_pass(codec, text); },
        [&](const std::string& a, const std::string& b) {
            return with_metas_opened(a, codec.key()) == with_metas_opened(b, codec.key());
        });
}

inline Comparison compare_decode(const Pelmora::Pelmo& codec, const std::string& text, const double* query) {
    return compare(
        text, run([&] { return Pelmora::decode_by_document(codec, text.c_str(), query); }),
        [&] { return Pelmora::decode_in_one_pass(codec, text, query); },
        [](const std::string& a, const std::string& b) { return a == b; });
}

}  // namespace pel_routes
