// Record sets in one pass over their text, without a document of the whole set.
//
// The route takes every text whose value begins as an array. A record in the
// shape hosts send (an object, members in any order, the last of a repeated
// member counting, further members skipped, "id" a string, "vector" plain JSON
// numbers) is read by the route itself: each "vector" straight into doubles,
// only "id", "filter" and "meta", which are small, through the JSON library.
// A record of any other shape is read whole by the JSON library and worked as
// the document route works it. The output is written straight into the text
// handed to the host, byte for byte what the document of the result would
// dump.
//
// Failures are those of the document route, message for message. That route
// parses the whole text before it works on any record, so a text that is not
// JSON outranks every failure of the work: when the work fails, the rest of
// the text is checked before the failure is reported, and when the text fails,
// the document route's own checks of it give the message (a parse error names
// its position in the whole text). No record is read or worked twice.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <exception>
#include <limits>
#include <new>
#include <numeric>
#include <optional>
#include <stdexcept>
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

#include "records/document.h"
#include "records/json.h"
#include "records/records.h"
#include "records/session.h"

namespace Pelmora {
namespace {

using nlohmann::json;

constexpr const char* kNotAnArray = "the record set is not an array";

// Thrown where a record's text leaves the shape the route reads itself: the
// JSON library then reads the whole record.
struct Unread {};

// Thrown where the text is sure not to parse: it is not JSON, or nests too
// deep. The document route's checks of the text then give its failure.
struct NotJson {};

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

    const char* position() const { return p_; }
    void rewind(const char* position) { p_ = position; }

    void skip_blanks() {
        while (p_ != end_ && is_blank(*p_)) {
            ++p_;
        }
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

    // The closing bracket of the set after its records.
    void expect_close() {
        if (!take(']')) {
            throw NotJson{};
        }
    }

    // Nothing but blanks after the set.
    void expect_end() {
        skip_blanks();
        if (p_ != end_) {
            throw NotJson{};
        }
    }

    // The members of one record. `vector` reads the value of each "vector".
    template <class ReadVector>
    Members record(ReadVector&& vector) {
        Members members;
        if (!take('{')) {
            throw Unread{};
        }
        if (take('}')) {
            return members;
        }
        do {
            const std::string_view name = member_name();
            if (!take(':')) {
                throw Unread{};
            }
            skip_blanks();
            if (name == "vector") {
                vector(*this);
                members.vector = true;
            } else if (name == "id") {
                replace(members.id, value(kInRecord));
            } else if (name == "filter") {
                replace(members.filter, value(kInRecord));
            } else if (name == "meta") {
                replace(members.meta, value(kInRecord));
            } else {
                require_json(value(kInRecord));
            }
        } while (take(','));
        if (!take('}')) {
            throw Unread{};
        }
        return members;
    }

    // Reads an array of exactly `dim` numbers into v, which grows up to `dim`
    // as numbers come: what it holds is never more than the text has given.
    // With `null_is_nan`, null is read as NaN.
    void numbers(Vector& v, Eigen::Index dim, bool null_is_nan) {
        if (!take('[')) {
            throw Unread{};
        }
        Eigen::Index count = 0;
        if (!take(']')) {
            do {
                skip_blanks();
                if (count == v.size()) {
                    if (count >= dim) {
                        throw Unread{};
                    }
                    v.conservativeResize(std::min(dim, std::max<Eigen::Index>(2 * count, 64)));
                }
                v[count++] = number(null_is_nan);
            } while (take(','));
            if (!take(']')) {
                throw Unread{};
            }
        }
        if (count != dim) {
            throw Unread{};
        }
    }

    // How many arrays and objects enclose a value: a record stands in the set,
    // a member's value in a record in the set.
    static constexpr std::size_t kInSet = 1;
    static constexpr std::size_t kInRecord = 2;

    // The text of one value with `enclosing` levels around it, found by its
    // brackets and quotes alone; the JSON library checks the rest when it
    // reads the value. That reading sees the value as a text of its own, so
    // whatever such a text may begin with and a value inside a document may
    // not (a byte order mark) is refused here, and so is nesting deeper than
    // the whole text may be.
    std::string_view value(std::size_t enclosing) {
        const char* first = p_;
        if (p_ == end_ || std::strchr("\"{[-0123456789tfn", *p_) == nullptr || *p_ == '\0') {
            throw NotJson{};
        }
        std::size_t depth = 0;
        do {
            if (p_ == end_) {
                throw NotJson{};
            }
            const char c = *p_++;
            if (c == '"') {
                skip_string();
            } else if (c == '[' || c == '{') {
                if (++depth + enclosing > kMaxJsonDepth) {
                    throw NotJson{};
                }
            } else if (c == ']' || c == '}') {
                if (depth == 0) {
                    throw NotJson{};
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

    // Whether the text from here on completes a JSON array, of values each of
    // which is JSON, with nothing after it: here is just after the opening
    // bracket (`at_start`) or just after a value.
    bool rest_is_json(bool at_start) {
        try {
            if (take(']')) {
                skip_blanks();
                return p_ == end_;
            }
            if (!at_start && !take(',')) {
                return false;
            }
            do {
                skip_blanks();
                if (!json::accept(value(kInSet))) {
                    return false;
                }
            } while (take(','));
            expect_close();
            expect_end();
            return true;
        } catch (const NotJson&) {
            return false;
        }
    }

private:
    // A value the codec never reads, skipped or replaced by a later member of
    // the same name, must be JSON as much as the rest of the text.
    static void require_json(std::string_view value) {
        if (!json::accept(value)) {
            throw NotJson{};
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
        if (!take('"')) {
            throw Unread{};
        }
        const char* first = p_;
        while (p_ != end_ && is_plain(*p_)) {
            ++p_;
        }
        if (p_ == end_ || *p_ != '"') {
            throw Unread{};
        }
        return std::string_view(first, static_cast<std::size_t>(p_++ - first));
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
        throw NotJson{};
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
            throw Unread{};
        }
        if (p_ != end_ && *p_ == '.') {
            ++p_;
            integer = false;
            if (skip_digits(nonzero) == 0) {
                throw Unread{};
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
                throw Unread{};
            }
        }
        // The grammar is checked above; fast_float rounds the digits correctly
        // and, like strtod, gives an infinity or a zero where the value is out
        // of range.
        double x = 0.0;
        const auto [at, error] = fast_float::from_chars(first, p_, x);
        if (error != std::errc() || at != p_ || std::isinf(x) || (x == 0.0 && nonzero)) {
            throw Unread{};
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

// The JSON value of a value's text, which the reader has delimited: if the
// library refuses it, the whole text does not parse.
Document parse_value(std::string_view text) {
    try {
        return parse_document(text);
    } catch (const json::exception&) {
        throw NotJson{};
    }
}

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
    const Document value = parse_value(text);
    if (!value->is_string()) {
        throw Unread{};
    }
    return {value->get<std::string>(), value->dump()};
}

// The compact dump of a member's value.
std::string dumped(std::string_view text) {
    if (text == "null") {
        return "null";
    }
    return parse_value(text)->dump();
}

void require_members(const Members& m) {
    if (m.id.empty() || m.filter.empty() || m.meta.empty() || !m.vector) {
        throw Unread{};
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

// A set of records read from a text, with what the route knows of where it
// stands when something fails.
class SetReading {
public:
    SetReading(std::string_view text, Call call) : text_(text), call_(call), reader_(text) {}

    Reader& reader() { return reader_; }
    std::optional<RecordPlace>& failed() { return failed_; }

    // Reads the next record with `read`, the route's own reading of the shape
    // hosts send, and returns nothing; or, for a record of another shape,
    // returns the whole record as the JSON library reads it.
    template <class Read>
    std::optional<Document> next_record(Read&& read) {
        const char* start = reader_.position();
        bool unread = false;
        try {
            read(reader_);
        } catch (const Unread&) {
            unread = true;
        }
        std::optional<Document> record;
        if (unread) {
            reader_.rewind(start);
            reader_.skip_blanks();
            record.emplace(parse_value(reader_.value(Reader::kInSet)));
        }
        at_start_ = false;
        return record;
    }

    // Runs the reading and working of the set. Exhausted memory passes at
    // once; every other failure is reported as the document route would.
    template <class Body>
    OnePass run(Body&& body) {
        try {
            return body();
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const NotJson&) {
            fail_on_text();
        } catch (const std::exception& e) {
            // A text that does not parse outranks every failure of the work.
            if (!reader_.rest_is_json(at_start_)) {
                fail_on_text();
            }
            if (failed_) {
                throw RecordFailure(*failed_, e.what());
            }
            throw;
        }
    }

private:
    [[noreturn]] void fail_on_text() {
        check_record_set_text(text_, call_);
        throw std::logic_error("The one-pass reader refused a record set that parses.");
    }

    std::string_view text_;
    Call call_;
    Reader reader_;
    bool at_start_ = true;
    std::optional<RecordPlace> failed_;
};

}  // namespace

OnePass encode_in_one_pass(const Pelmo& codec, std::string_view text) {
    SetReading set(text, Call::encode);
    Reader& reader = set.reader();
    if (!reader.take('[')) {
        return {std::nullopt, kNotAnArray};
    }
    return set.run([&]() -> OnePass {
        RecordEncoder encoder(codec);
        OutputText out(expected_output_size(text));
        out.append('[');
        if (!reader.take(']')) {
            Vector v;
            std::size_t index = 0;
            do {
                const RecordAt at{index++, nullptr};
                out.append(at.index == 0 ? "" : ",");
                std::optional<Text> id;
                std::string filter, meta;
                const std::optional<Document> record = set.next_record([&](Reader& r) {
                    const Members m = r.record([&](Reader& in) { in.numbers(v, codec.dim(), false); });
                    require_members(m);
                    id = string_of(m.id);
                    filter = dumped(m.filter);
                    meta = dumped(m.meta);
                });
                if (record) {
                    out.append(Document(encode_record(encoder, **record, at, set.failed()))->dump());
                    continue;
                }
                count_record_worked();
                const std::string sealed = for_record(at, set.failed(), [&] {
                    std::string s = encoder.seal(meta);
                    encoder.transform(v);
                    return s;
                });

                out.append("{\"filter\":");
                out.append(filter);
                out.append(",\"id\":");
                out.append(id->dumped);
                out.append(",\"meta\":\"");
                out.append(sealed);  // base64 and ':' only: nothing to escape
                out.append("\",\"vector\":");
                append_numbers(out, v);
                out.append('}');
            } while (reader.take(','));
            reader.expect_close();
        }
        reader.expect_end();
        out.append(']');
        return {std::move(out), nullptr};
    });
}

OnePass decode_in_one_pass(const Pelmo& codec, std::string_view text, const double* query) {
    SetReading set(text, Call::decode);
    Reader& reader = set.reader();
    if (!reader.take('[')) {
        return {std::nullopt, kNotAnArray};
    }
    return set.run([&]() -> OnePass {
        if (query == nullptr) {
            throw std::invalid_argument("The argument query is null.");
        }
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
        auto append_head = [](std::string& head, const std::string& filter, const std::string& id,
                              const std::string& meta) {
            head.reserve(filter.size() + id.size() + meta.size() + 40);
            head.append("{\"filter\":").append(filter);
            head.append(",\"id\":").append(id);
            head.append(",\"meta\":").append(meta);
            head.append(",\"similarity\":");
        };
        if (!reader.take(']')) {
            q = Eigen::Map<const Vector>(query, dim);
            // A vector of `dim` numbers is made only once a record has held one.
            Eigen::Index room = 0;
            std::size_t index = 0;
            do {
                const RecordAt at{index++, nullptr};
                Vector v(room);
                std::optional<Text> id, sealed;
                std::string filter;
                const std::optional<Document> record = set.next_record([&](Reader& r) {
                    const Members m = r.record([&](Reader& in) { in.numbers(v, dim, true); });
                    require_members(m);
                    id = string_of(m.id);
                    filter = dumped(m.filter);
                    sealed = string_of(m.meta);
                });
                if (record) {
                    OpenedRecord o = open_record(decoder, **record, q, at, set.failed());
                    std::string head;
                    append_head(head, o.filter->dump(), json(o.id).dump(), o.meta->dump());
                    opened.push_back({std::move(head), o.similarity, std::move(o.v)});
                    continue;
                }
                room = dim;
                count_record_worked();
                for_record(at, set.failed(), [&] { decoder.transform(v); });
                const double similarity = decoder.score(q, v);
                const std::string meta =
                    for_record(at, set.failed(), [&] { return parse_metadata(decoder.open(sealed->value))->dump(); });

                std::string head;
                append_head(head, filter, id->dumped, meta);
                opened.push_back({std::move(head), similarity, std::move(v)});
            } while (reader.take(','));
            reader.expect_close();
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
        return {std::move(out), nullptr};
    });
}

}  // namespace Pelmora
