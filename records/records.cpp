#include "records/records.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <limits>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "key/key.h"
#include "records/document.h"
#include "records/json.h"
#include "records/session.h"
#include "transform/pelmo.h"

namespace Pelmora {
namespace {

using nlohmann::json;

std::atomic<unsigned long long> document_runs{0};
std::atomic<unsigned long long> records_worked{0};

// Visits the records of a set in the library's iteration order (an array's
// elements, an object's values by key, nothing for null, any other value as
// itself), with each one's place.
template <class Visit>
void for_each_record(const json& records, Visit&& visit) {
    std::size_t index = 0;
    for (auto it = records.begin(); it != records.end(); ++it, ++index) {
        visit(*it, RecordAt{index, records.is_object() ? &it.key() : nullptr});
    }
}

}  // namespace

std::string RecordPlace::describe() const {
    if (member) {
        return "Record " + quoted(*member) + " of the record set, an object";
    }
    return "Record at index " + std::to_string(index);
}

RecordFailure::RecordFailure(const RecordPlace& place, const char* message)
    : std::runtime_error(place.describe() + ": " + message) {}

void count_record_worked() noexcept { records_worked.fetch_add(1, std::memory_order_relaxed); }

void count_document_run() noexcept { document_runs.fetch_add(1, std::memory_order_relaxed); }

RouteCounts route_counts() {
    return {document_runs.load(std::memory_order_relaxed), records_worked.load(std::memory_order_relaxed)};
}

Vector read_vector(const json& record, int dim, bool null_is_nan) {
    const json& values = record.at("vector");
    if (!values.is_array()) {
        values.get<std::vector<double>>();  // the library's own refusal
    }
    if (dim < 0 || values.size() != static_cast<std::size_t>(dim)) {
        // Elements are checked first, as the library's conversion of the whole
        // array checked them before this test could be made.
        for (const json& x : values) {
            if (!(null_is_nan && x.is_null())) {
                x.get<double>();
            }
        }
        throw std::invalid_argument("\"vector\" holds " + std::to_string(values.size()) +
                                    " numbers, the dimension is " + std::to_string(dim) + ".");
    }
    Vector v(dim);
    Eigen::Index i = 0;
    for (const json& x : values) {
        v[i++] = null_is_nan && x.is_null() ? std::numeric_limits<double>::quiet_NaN() : x.get<double>();
    }
    return v;
}

Document parse_metadata(const std::string& plaintext) {
    require_json_depth(plaintext, "The metadata");
    return parse_document(plaintext);
}

json encode_record(RecordEncoder& encoder, const json& record, const RecordAt& at,
                   std::optional<RecordPlace>& failed) {
    count_record_worked();
    Document encoded;
    for_record(at, failed, [&] {
        std::string id = record.at("id").get<std::string>();
        Document filter = copy_of(record.at("filter"));
        std::string sealed = encoder.seal(record.at("meta").dump());
        Vector v = read_vector(record, encoder.dim(), false);
        encoder.transform(v);

        // Containers are swapped in, so that none is ever left outside a
        // Document, even when a member's node cannot be allocated.
        (*encoded)["filter"].swap(*filter);
        (*encoded)["id"] = std::move(id);
        (*encoded)["meta"] = std::move(sealed);
        put_reals((*encoded)["vector"], static_cast<std::size_t>(v.size()), [&](std::size_t i) { return v[i]; });
    });
    return encoded.take();
}

OpenedRecord open_record(RecordDecoder& decoder, const json& record, const Vector& query, const RecordAt& at,
                         std::optional<RecordPlace>& failed) {
    count_record_worked();
    OpenedRecord opened;
    std::string sealed;
    for_record(at, failed, [&] {
        opened.id = record.at("id").get<std::string>();
        opened.filter = copy_of(record.at("filter"));
        sealed = record.at("meta").get<std::string>();
        opened.v = read_vector(record, decoder.dim(), true);
        decoder.transform(opened.v);
    });
    // Outside the record's place: a query of another length is the call's
    // fault, and the first record would only be where it shows.
    opened.similarity = decoder.score(query, opened.v);
    for_record(at, failed, [&] { opened.meta = parse_metadata(decoder.open(sealed)); });
    return opened;
}

json encode_set(const Pelmo& codec, const json& records, std::optional<RecordPlace>& failed) {
    RecordEncoder encoder(codec);
    Document result(json::array());
    for_each_record(records, [&](const json& record, const RecordAt& at) {
        Document encoded(encode_record(encoder, record, at, failed));
        result->push_back(std::move(*encoded));
    });
    return result.take();
}

json decode_set(const Pelmo& codec, const json& records, const Vector& query, std::optional<RecordPlace>& failed) {
    RecordDecoder decoder(codec);
    // The opened records in the set's order, then their ranks.
    Document opened(json::array());
    std::vector<double> similarities;
    for_each_record(records, [&](const json& record, const RecordAt& at) {
        OpenedRecord o = open_record(decoder, record, query, at, failed);
        Document r(json::object());
        (*r)["filter"].swap(*o.filter);
        (*r)["id"] = std::move(o.id);
        (*r)["meta"].swap(*o.meta);
        (*r)["similarity"] = o.similarity;
        put_reals((*r)["vector"], static_cast<std::size_t>(o.v.size()), [&](std::size_t i) { return o.v[i]; });
        similarities.push_back(o.similarity);
        opened->push_back(std::move(*r));
    });

    // Stable, so records of equal similarity keep their input order.
    std::vector<std::size_t> order(similarities.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    const bool descending = decoder.descending();
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return ranks_before(similarities[a], similarities[b], descending);
    });

    Document result(json::array());
    result->get_ptr<json::array_t*>()->reserve(order.size());
    for (const std::size_t i : order) {
        result->push_back(std::move((*opened)[i]));
    }
    return result.take();
}

json Pelmo::encode(const json& records) const {
    std::optional<RecordPlace> ignored;
    return encode_set(*this, records, ignored);
}

json Pelmo::decode(const json& records, const Vector& query) const {
    std::optional<RecordPlace> ignored;
    return decode_set(*this, records, query, ignored);
}

}  // namespace Pelmora
