#include "transform/pelmo.h"

#include <algorithm>
#include <cstddef>
#include <exception>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "key/key.h"
#include "records/json.h"
#include "records/records.h"
#include "records/session.h"

namespace Pelmora {
namespace {

using nlohmann::json;

// The record whose work threw the exception in flight. The exception is held
// as well as its address: while it is held, no other exception can live at
// that address, so the address identifies it.
struct FailedRecord {
    std::exception_ptr failure;
    const std::exception* object = nullptr;
    RecordPlace place;
};

thread_local FailedRecord failed_record;

// Runs the work on one record of a set. A failure there passes unchanged, with
// the record's place kept beside it (take_failed_record), so that a user with a
// thousand records need not bisect to find the broken one. Exhausted memory is
// no fault of the record and passes without a place. `member` is the key of
// the record in a set given as an object, null otherwise.
template <class Work>
auto for_record(std::size_t index, const std::string* member, Work&& work) -> decltype(work()) {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        try {
            failed_record = FailedRecord{std::current_exception(), &e, RecordPlace{index, std::nullopt}};
            if (member != nullptr) {
                failed_record.place.member = *member;
            }
        } catch (...) {
            failed_record = FailedRecord{};  // out of memory: the failure still passes, without a place
        }
        throw;
    }
}

// Visits the records of a set in the library's iteration order (an array's
// elements, an object's values by key, nothing for null, any other value as
// itself), with each one's index and, in an object, its key.
template <class Visit>
void for_each_record(const json& records, Visit&& visit) {
    std::size_t index = 0;
    for (auto it = records.begin(); it != records.end(); ++it, ++index) {
        visit(*it, index, records.is_object() ? &it.key() : nullptr);
    }
}

// The record's "vector" as exactly `dim` doubles. JSON integers become the
// nearest double; with `null_is_nan`, null becomes NaN, which is how an encoded
// NaN was written; every other kind is refused by the library's conversion.
// The blending and the matrix products assume `dim` components, so a vector of
// any other length ends the call here.
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

// Always JSON reals, never integers, whatever the values.
json to_array(const Vector& v) {
    json::array_t array;
    array.reserve(static_cast<std::size_t>(v.size()));
    for (Eigen::Index i = 0; i < v.size(); ++i) {
        array.emplace_back(static_cast<double>(v[i]));
    }
    return json(std::move(array));
}

struct Opened {
    double similarity;
    json record;
};

}  // namespace

std::string RecordPlace::describe() const {
    if (member) {
        return "Record " + quoted(*member) + " of the record set, an object";
    }
    return "Record at index " + std::to_string(index);
}

std::optional<RecordPlace> take_failed_record(const std::exception& error) noexcept {
    const bool own = failed_record.object == &error;
    std::optional<RecordPlace> place;
    if (own) {
        place = std::move(failed_record.place);
    }
    failed_record = FailedRecord{};
    return place;
}

json Pelmo::encode(const json& records) const {
    RecordEncoder encoder(*this);
    json result = json::array();
    // Reads in this order decide which fault a broken record reports.
    for_each_record(records, [&](const json& record, std::size_t index, const std::string* member) {
        result.push_back(for_record(index, member, [&] {
            std::string id = record.at("id").get<std::string>();
            json filter = record.at("filter");
            std::string sealed = encoder.seal(record.at("meta").dump());
            Vector v = read_vector(record, dim_, false);
            encoder.transform(v);

            json encoded;
            encoded["id"] = std::move(id);
            encoded["filter"] = std::move(filter);
            encoded["meta"] = std::move(sealed);
            encoded["vector"] = to_array(v);
            return encoded;
        }));
    });
    return result;
}

json Pelmo::decode(const json& records, const Vector& query) const {
    RecordDecoder decoder(*this);
    std::vector<Opened> opened;
    // Every member is read before any work on the record; the metadata is
    // opened only after the vector is decoded and scored.
    for_each_record(records, [&](const json& record, std::size_t index, const std::string* member) {
        std::string id;
        json filter;
        std::string sealed;
        Vector v;
        for_record(index, member, [&] {
            id = record.at("id").get<std::string>();
            filter = record.at("filter");
            sealed = record.at("meta").get<std::string>();
            v = read_vector(record, dim_, true);
            decoder.transform(v);
        });
        // Outside the record's place: a query of another length is the call's
        // fault, and the first record would only be where it shows.
        const double similarity = decoder.score(query, v);

        json meta = for_record(index, member, [&] {
            const std::string plaintext = decoder.open(sealed);
            require_json_depth(plaintext, "The metadata");
            return json::parse(plaintext);
        });

        json record_out;
        record_out["id"] = std::move(id);
        record_out["filter"] = std::move(filter);
        record_out["meta"] = std::move(meta);
        record_out["similarity"] = similarity;
        record_out["vector"] = to_array(v);
        opened.push_back({similarity, std::move(record_out)});
    });

    // Stable, so records of equal similarity keep their input order.
    const bool descending = decoder.descending();
    std::stable_sort(opened.begin(), opened.end(), [descending](const Opened& a, const Opened& b) {
        return ranks_before(a.similarity, b.similarity, descending);
    });

    json result = json::array();
    for (Opened& o : opened) {
        result.push_back(std::move(o.record));
    }
    return result;
}

}  // namespace Pelmora
