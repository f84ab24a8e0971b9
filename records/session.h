// What both record routes share: the working set of one call (the cipher
// object, the transform or its inverse, the noise vector), the ranking, where
// a record's failure is placed, and the work on one record in the document
// form, which the one-pass route also takes for a record whose text it does
// not read itself.
//
// Construction of the working set runs every check that comes before the first
// record, in the order hosts see their failures; it builds nothing that grows
// with the dimension. The matrix, its inverse and the noise vector are built
// when the first record needs them, so an empty record set costs the same at
// any dimension.
#pragma once

#include <cstddef>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "records/document.h"
#include "records/records.h"
#include "sealing/aes_cbc.h"
#include "sealing/random_source.h"
#include "transform/blocks.h"
#include "transform/pelmo.h"

namespace Pelmora {

class RecordEncoder {
public:
    // Key fields 1 to 3 and the dimension, the cipher key, key field 0, the
    // metric name: each fails with its own message, in this order.
    explicit RecordEncoder(const Pelmo& codec);

    // The sealed metadata text of `text` under a fresh IV.
    std::string seal(const std::string& text) { return cipher_.encrypt(text); }

    // Blends v with the noise and multiplies it by the matrix. v must have
    // `dim` components.
    void transform(Vector& v);

    int dim() const { return codec_.dim(); }

private:
    const Pelmo& codec_;
    TransformSeeds seeds_;
    AES_CBC cipher_;
    int noise_field_;
    std::optional<BlockMatrix> matrix_;
    std::optional<Vector> noise_;
};

class RecordDecoder {
public:
    // Key fields 1 to 3 and the dimension, the dimension decoding needs, the
    // cipher key, key field 0 (when noise is on), the metric name.
    explicit RecordDecoder(const Pelmo& codec);

    // Multiplies v by the inverse and removes the noise. v must have `dim`
    // components.
    void transform(Vector& v);

    // The similarity of the decoded vector v to the query.
    double score(const Vector& query, const Vector& v) const;

    // The plaintext of a sealed metadata text.
    std::string open(const std::string& sealed) { return cipher_.decrypt(sealed); }

    // Highest similarity first ("COSINE", "INNER_PRODUCT") or lowest ("L2").
    bool descending() const;

    int dim() const { return codec_.dim(); }

private:
    const Pelmo& codec_;
    TransformSeeds seeds_;
    AES_CBC cipher_;
    int noise_field_ = 0;
    std::optional<InverseTransform> inverse_;
    std::optional<Vector> noise_;
};

// Numbers in the metric's direction, then every NaN. The plain comparison of
// similarities is no strict weak order once NaN and numbers mix, which a sort
// needs; here all NaNs form one class behind every number. -0.0 and +0.0 tie.
bool ranks_before(double a, double b, bool descending);

// A record while it is worked: its index in the set's iteration order and,
// in a set given as an object, the member that holds it (null otherwise).
struct RecordAt {
    std::size_t index;
    const std::string* member;
};

// Runs work on the record `at`. A failure there passes on unchanged, its
// record's place kept in `failed` for the caller to report; exhausted memory
// and a failure of the random source are no record's fault and keep none.
template <class Work>
auto for_record(const RecordAt& at, std::optional<RecordPlace>& failed, Work&& work) -> decltype(work()) {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const RandomSourceError&) {
        throw;
    } catch (const std::exception&) {
        // Made aside and then moved in, which cannot fail: memory that runs out
        // for the place (a long member name) leaves none, and the failure
        // becomes std::bad_alloc, which no record is blamed for.
        RecordPlace place{at.index, at.member != nullptr ? std::optional<std::string>(*at.member) : std::nullopt};
        failed = std::move(place);
        throw;
    }
}

// Count one more record whose work begins, and one more run of the document
// route (route_counts).
void count_record_worked() noexcept;
void count_document_run() noexcept;

// The encoded form of one record of a set, read from its JSON value in the
// order that decides which fault a broken record reports: "id", "filter",
// "meta" (sealed at once), "vector".
nlohmann::json encode_record(RecordEncoder& encoder, const nlohmann::json& record, const RecordAt& at,
                             std::optional<RecordPlace>& failed);

// One record of a set opened from its JSON value: every member read before any
// work on it, its metadata opened only after its vector is decoded and scored.
struct OpenedRecord {
    std::string id;
    Document filter;
    Document meta;
    double similarity = 0.0;
    Vector v;
};
OpenedRecord open_record(RecordDecoder& decoder, const nlohmann::json& record, const Vector& query,
                         const RecordAt& at, std::optional<RecordPlace>& failed);

// The record's "vector" as exactly `dim` doubles. JSON integers become the
// nearest double; with `null_is_nan`, null becomes NaN, which is how an encoded
// NaN was written; every other kind is refused by the library's conversion.
// The blending and the matrix products assume `dim` components, so a vector of
// any other length ends the call here.
Vector read_vector(const nlohmann::json& record, int dim, bool null_is_nan);

// Pelmo::encode and Pelmo::decode, with the place of a failing record kept in
// `failed`.
nlohmann::json encode_set(const Pelmo& codec, const nlohmann::json& records, std::optional<RecordPlace>& failed);
nlohmann::json decode_set(const Pelmo& codec, const nlohmann::json& records, const Vector& query,
                          std::optional<RecordPlace>& failed);

// Which call a record-set text is read for: a text that does not parse fails
// encode as RecordSetNotParsed, decode as the JSON library's own exception.
enum class Call { encode, decode };

// Throws what the document route reports for `text` before it works on any
// record: the nesting bound, then the parser's failure. Returns if the text
// parses. Builds no document.
void check_record_set_text(std::string_view text, Call call);

// The JSON value of an opened metadata plaintext: the nesting bound, then the
// parse, whose errors pass as the JSON library's.
Document parse_metadata(const std::string& plaintext);

}  // namespace Pelmora
