#include "records/one_pass.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <exception>
#include <limits>
#include <numeric>
#include <string>
#include <system_error>
#include <vector>

// fast_float checks an invariant of its own with assert(), which would abort
// the host where NDEBUG is not set, as in every build here: compiled out in the
// shipped libraries like the JSON library's checks (records/json.h).
#if !PEL_DEPENDENCY_ASSERTIONS && !defined(NDEBUG)
#define NDEBUG
#include <fast_float/fast_float.h>
#undef NDEBUG
#include <cassert>  // assert() as NDEBUG has it again, for what follows
#else
#include <fast_float/fast_float.h>
#endif

#include "records/json.h"
#include "records/records.h"
#include "records/session.h"

namespace Pelmora {
namespace {

using nlohmann::json;

// Thrown where the text leaves the shape this route takes; the call then
// takes the document route.
struct Declined {};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A string's bytes that need neither unescaping nor a check of their
// encoding, and that the dump writes as they are.
bool is_plain(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x20 && byte < 0x80 && c != '"' && c != '\\';
}

// The members of a record that the codec reads, as the text spells them. A
// repeated member is read again; the last one counts, as in the document.
struct Members {
    std::string_view id, filter, meta;
    bool vector = false;
};

class Reader {
public:
    explicit Reader(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {
        // A byte order mark at the start is skipped, as the JSON library does.
        if (text.size() >= 3 && std::memcmp(p_, "\xEF\xBB\xBF", 3) == 0) {
            p_ += 3;
        }
    }

    void skip_blanks() {
        while (p_ != end_ && is_blank(*p_)) {
            ++p_;
        }
    }

    // Skips blanks and takes `c`, which must come next.
    void expect(char c) {
        skip_blanks();
        if (p_ == end_ || *p_ != c) {
            throw Declined{};
        }
        ++p_;
    }

    // Skips blanks and takes `c` if it comes next.
    bool take(char c) {
        skip_blanks();
        if (p_ != end_ && *p_ == c) {
            ++p_;
            return true;
        }
        return false;
    }

    void expect_end() {
        skip_blanks();
        if (p_ != end_) {
            throw Declined{};
        }
    }

    // The members of one record. `vector` reads the value of each "vector".
    template <class ReadVector>
    Members record(ReadVector&& vector) {
        Members members;
        expect('{');
        if (take('}')) {
            return members;
        }
        do {
            const std::string_view name = member_name();
            expect(':');
            skip_blanks();
            if (name == "vector") {
                vector(*this);
                members.vector = true;
            } else if (name == "id") {
                replace(members.id, value());
            } else if (name == "filter") {
                replace(members.filter, value());
            } else if (name == "meta") {
                replace(members.meta, value());
            } else {
                require_json(value());
            }
        } while (take(','));
        expect('}');
        return members;
    }

    // Reads an array of exactly v.size() numbers into v; with `null_is_nan`,
    // null is read as NaN.
    void numbers(Vector& v, bool null_is_nan) {
        expect('[');
        Eigen::Index count = 0;
        if (!take(']')) {
            do {
                skip_blanks();
                if (count == v.size()) {
                    throw Declined{};
                }
                v[count++] = number(null_is_nan);
            } while (take(','));
            expect(']');
        }
        if (count != v.size()) {
            throw Declined{};
        }
    }

private:
    // A value the codec never reads, skipped or replaced by a later member of
    // the same name, must be JSON as much as the rest of the text.
    static void require_json(std::string_view value) {
        if (!json::accept(value)) {
            throw Declined{};
        }
    }

    static void replace(std::string_view& member, std::string_view value) {
        if (!member.empty()) {
            require_json(member);
        }
        member = value;
    }

    // A member name without escapes or non-ASCII bytes.
    std::string_view member_name() {
        expect('"');
        const char* first = p_;
        while (p_ != end_ && is_plain(*p_)) {
            ++p_;
        }
        if (p_ == end_ || *p_ != '"') {
            throw Declined{};
        }
        return std::string_view(first, static_cast<std::size_t>(p_++ - first));
    }

    // The text of one value, found by its brackets and quotes alone; the JSON
    // library checks the rest when it reads the value. That reading sees the
    // value as a text of its own, so whatever such a text may begin with and a
    // value inside a document may not (a byte order mark) is refused here.
    std::string_view value() {
        const char* first = p_;
        if (p_ == end_ || std::strchr("\"{[-0123456789tfn", *p_) == nullptr || *p_ == '\0') {
            throw Declined{};
        }
        std::size_t depth = 0;
        do {
            if (p_ == end_) {
                throw Declined{};
            }
            const char c = *p_++;
            if (c == '"') {
                skip_string();
            } else if (c == '[' || c == '{') {
                // The record and its set are two levels already.
                if (++depth + 2 > kMaxJsonDepth) {
                    throw Declined{};
                }
            } else if (c == ']' || c == '}') {
                if (depth == 0) {
                    throw Declined{};
                }
                --depth;
            } else if (depth == 0) {
                while (p_ != end_ && !is_blank(*p_) && *p_ != ',' && *p_ != '}' && *p_ != ']') {
                    ++p_;
                }
            }
        } while (depth > 0);
        return std::string_view(first, static_cast<std::size_t>(p_ - first));
    }

    // From after an opening quote to after its closing one.
    void skip_string() {
        while (p_ != end_) {
            const char c = *p_++;
            if (c == '"') {
                return;
            }
            if (c == '\\') {
                if (p_ == end_) {
                    break;
                }
                ++p_;
            }
        }
        throw Declined{};
    }

    // One JSON number, read as the JSON library reads it: an integer is read
    // as such and then converted ("-0" is +0.0), any other number rounded
    // correctly from its digits. A number beyond the range of a double, or so
    // small that it rounds to zero, is left to the library.
    double number(bool null_is_nan) {
        const char* first = p_;
        if (null_is_nan && end_ - p_ >= 4 && std::memcmp(p_, "null", 4) == 0) {
            p_ += 4;
            return std::numeric_limits<double>::quiet_NaN();
        }
        bool integer = true;
        bool nonzero = false;  // a digit of the significand that is not 0
        if (p_ != end_ && *p_ == '-') {
            ++p_;
        }
        if (p_ != end_ && *p_ == '0') {
            ++p_;
        } else if (p_ != end_ && *p_ >= '1' && *p_ <= '9') {
            skip_digits(nonzero);
        } else {
            throw Declined{};
        }
        if (p_ != end_ && *p_ == '.') {
            ++p_;
            integer = false;
            if (skip_digits(nonzero) == 0) {
                throw Declined{};
            }
        }
        if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
            ++p_;
            integer = false;
            if (p_ != end_ && (*p_ == '+' || *p_ == '-')) {
                ++p_;
            }
            bool ignored = false;
            if (skip_digits(ignored) == 0) {
                throw Declined{};
            }
        }
        // The grammar is checked above; fast_float rounds the digits correctly
        // and, like strtod, gives an infinity or a zero where the value is out
        // of range.
        double x = 0.0;
        const auto [at, error] = fast_float::from_chars(first, p_, x);
        if (error != std::errc() || at != p_ || std::isinf(x) || (x == 0.0 && nonzero)) {
            throw Declined{};
        }
        // Every integer rounds to the same double either way, but a negative
        // zero integer is the integer 0.
        return integer && x == 0.0 ? 0.0 : x;
    }

    // Skips a run of digits and returns its length; sets `nonzero` if one of
    // them is not 0.
    std::size_t skip_digits(bool& nonzero) {
        const char* first = p_;
        while (p_ != end_ && is_digit(*p_)) {
            nonzero = nonzero || *p_ != '0';
            ++p_;
        }
        return static_cast<std::size_t>(p_ - first);
    }

    const char* p_;
    const char* end_;
};

// A string member's value and its text in the output.
struct Text {
    std::string value;
    std::string dumped;
};

Text string_of(std::string_view text) {
    if (text.size() >= 2 && text.front() == '"' && std::all_of(text.begin() + 1, text.end() - 1, is_plain) &&
        text.back() == '"') {
        return {std::string(text.substr(1, text.size() - 2)), std::string(text)};
    }
    const json value = json::parse(text);
    if (!value.is_string()) {
        throw Declined{};
    }
    return {value.get<std::string>(), value.dump()};
}

// The compact dump of a member's value.
std::string dumped(std::string_view text) {
    if (text == "null") {
        return "null";
    }
    return json::parse(text).dump();
}

void require_members(const Members& m) {
    if (m.id.empty() || m.filter.empty() || m.meta.empty() || !m.vector) {
        throw Declined{};
    }
}

void append_numbers(OutputText& out, const Vector& v) {
    out.append('[');
    for (Eigen::Index i = 0; i < v.size(); ++i) {
        if (i > 0) {
            out.append(',');
        }
        out.append_number(v[i]);
    }
    out.append(']');
}

// Room for the output text. An encoded or an opened record is about as long as
// its input record; the margin keeps the text from having to move while it
// grows, and costs nothing until it is written.
std::size_t expected_output_size(std::string_view input) { return input.size() + input.size() / 2 + 4096; }

// Runs a route's body; any failure, whatever its kind, declines.
template <class Body>
std::optional<OutputText> declining(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace

std::optional<OutputText> encode_in_one_pass(const Pelmo& codec, std::string_view text) {
    return declining([&]() -> std::optional<OutputText> {
        Reader reader(text);
        RecordEncoder encoder(codec);
        OutputText out(expected_output_size(text));
        out.append('[');
        reader.expect('[');
        if (!reader.take(']')) {
            Vector v(codec.dim());
            bool first = true;
            do {
                const Members m = reader.record([&](Reader& r) { r.numbers(v, false); });
                require_members(m);
                const Text id = string_of(m.id);
                const std::string filter = dumped(m.filter);
                const std::string sealed = encoder.seal(dumped(m.meta));
                encoder.transform(v);

                out.append(first ? "{\"filter\":" : ",{\"filter\":");
                out.append(filter);
                out.append(",\"id\":");
                out.append(id.dumped);
                out.append(",\"meta\":\"");
                out.append(sealed);  // base64 and ':' only: nothing to escape
                out.append("\",\"vector\":");
                append_numbers(out, v);
                out.append('}');
                first = false;
            } while (reader.take(','));
            reader.expect(']');
        }
        reader.expect_end();
        out.append(']');
        return out;
    });
}

std::optional<OutputText> decode_in_one_pass(const Pelmo& codec, std::string_view text, const double* query) {
    if (query == nullptr) {
        return std::nullopt;
    }
    return declining([&]() -> std::optional<OutputText> {
        Reader reader(text);
        RecordDecoder decoder(codec);
        const int dim = codec.dim();

        // What each opened record writes before its similarity, then its
        // vector: the text is finished once the ranking is known.
        struct Opened {
            std::string head;
            double similarity;
            Vector v;
        };
        std::vector<Opened> opened;
        Vector q;
        reader.expect('[');
        if (!reader.take(']')) {
            q = Eigen::Map<const Vector>(query, dim);
            do {
                Vector v(dim);
                const Members m = reader.record([&](Reader& r) { r.numbers(v, true); });
                require_members(m);
                const Text id = string_of(m.id);
                const std::string filter = dumped(m.filter);
                const Text sealed = string_of(m.meta);
                decoder.transform(v);
                const double similarity = decoder.score(q, v);
                const std::string plaintext = decoder.open(sealed.value);
                require_json_depth(plaintext, "The metadata");
                const std::string meta = json::parse(plaintext).dump();

                std::string head;
                head.reserve(filter.size() + id.dumped.size() + meta.size() + 40);
                head.append("{\"filter\":").append(filter);
                head.append(",\"id\":").append(id.dumped);
                head.append(",\"meta\":").append(meta);
                head.append(",\"similarity\":");
                opened.push_back({std::move(head), similarity, std::move(v)});
            } while (reader.take(','));
            reader.expect(']');
        }
        reader.expect_end();

        std::vector<std::size_t> order(opened.size());
        std::iota(order.begin(), order.end(), std::size_t{0});
        const bool descending = decoder.descending();
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return ranks_before(opened[a].similarity, opened[b].similarity, descending);
        });

        OutputText out(expected_output_size(text));
        out.append('[');
        for (std::size_t rank = 0; rank < order.size(); ++rank) {
            Opened& o = opened[order[rank]];
            if (rank > 0) {
                out.append(',');
            }
            out.append(o.head);
            out.append_number(o.similarity);
            out.append(",\"vector\":");
            append_numbers(out, o.v);
            out.append('}');
            o = Opened{};  // what is written is no longer needed
        }
        out.append(']');
        return out;
    });
}

}  // namespace Pelmora
