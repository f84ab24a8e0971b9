#include "transform/pelmo.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <exception>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "records/records.h"
#include "sealing/aes_cbc.h"
#include "transform/stages.h"
#include "transform/utils.h"

namespace Pelmora {
namespace {

using nlohmann::json;

// The record whose work threw the exception in flight. The exception is held
// as well as its address: while it is held, no other exception can live at
// that address, so the address identifies it.
struct FailedRecord {
    std::exception_ptr failure;
    const std::exception* object = nullptr;
    std::size_t index = 0;
};

thread_local FailedRecord failed_record;

// Runs the work on one record of a set. A failure there passes unchanged, with
// the record's index kept beside it (take_failed_record), so that a user with a
// thousand records need not bisect to find the broken one. Exhausted memory is
// no fault of the record and passes without an index.
template <class Work>
auto for_record(std::size_t index, Work&& work) -> decltype(work()) {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        failed_record = FailedRecord{std::current_exception(), &e, index};
        throw;
    }
}

// The record's "vector" as exactly `dim` doubles. JSON integers become the
// nearest double; every other kind is refused by the library's conversion. The
// blending and the matrix products assume `dim` components, so a vector of
// any other length ends the call here.
Vector read_vector(const json& record, int dim) {
    const std::vector<double> values = record.at("vector").get<std::vector<double>>();
    if (dim < 0 || values.size() != static_cast<std::size_t>(dim)) {
        throw std::invalid_argument("\"vector\" holds " + std::to_string(values.size()) +
                                    " numbers, the dimension is " + std::to_string(dim) + ".");
    }
    return Eigen::Map<const Vector>(values.data(), dim);
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

// Numbers in the metric's direction, then every NaN. The plain comparison of
// similarities is no strict weak order once NaN and numbers mix, which a sort
// needs; here all NaNs form one class behind every number. -0.0 and +0.0 tie.
bool ranks_before(double a, double b, bool descending) {
    if (std::isnan(a)) {
        return false;
    }
    if (std::isnan(b)) {
        return true;
    }
    return descending ? a > b : a < b;
}

}  // namespace

std::optional<std::size_t> take_failed_record(const std::exception& error) noexcept {
    const bool own = failed_record.object == &error;
    const std::size_t index = failed_record.index;
    failed_record = FailedRecord{};
    if (!own) {
        return std::nullopt;
    }
    return index;
}

json Pelmo::encode(const json& records) const {
    // The working set comes first, so a bad key fails even without records.
    const BlockMatrix matrix = get_blocks();
    AES_CBC cipher(key_);
    const int noise_field = parse_key_field(key_, 0);
    Vector noise;
    if (profile_.noise_enabled) {
        noise = noise_vector(noise_field, profile_, dim_);
    }

    json result = json::array();
    std::size_t index = 0;
    // Reads in this order decide which fault a broken record reports.
    for (const json& record : records) {
        result.push_back(for_record(index, [&] {
            std::string id = record.at("id").get<std::string>();
            json filter = record.at("filter");
            std::string sealed = cipher.encrypt(record.at("meta").dump());
            Vector v = read_vector(record, dim_);
            if (profile_.noise_enabled) {
                blend(v, noise);
            }
            matrix.apply(v);

            json encoded;
            encoded["id"] = std::move(id);
            encoded["filter"] = std::move(filter);
            encoded["meta"] = std::move(sealed);
            encoded["vector"] = to_array(v);
            return encoded;
        }));
        ++index;
    }
    return result;
}

json Pelmo::decode(const json& records, const Vector& query) const {
    const TransformSeeds seeds = transform_seeds(key_, dim_);
    require_decoding_dimension(dim_);
    const InverseTransform inverse(seeds, dim_, profile_);
    AES_CBC cipher(key_);
    Vector noise;
    if (profile_.noise_enabled) {
        noise = noise_vector(parse_key_field(key_, 0), profile_, dim_);
    }

    std::vector<Opened> opened;
    std::size_t index = 0;
    // Every member is read before any work on the record; the metadata is
    // opened only after the vector is decoded and scored.
    for (const json& record : records) {
        std::string id;
        json filter;
        std::string sealed;
        Vector v;
        for_record(index, [&] {
            id = record.at("id").get<std::string>();
            filter = record.at("filter");
            sealed = record.at("meta").get<std::string>();
            v = read_vector(record, dim_);
            inverse.apply(v);
            if (profile_.noise_enabled) {
                remove_noise(v, noise);
            }
        });
        // Outside the record's prefix: an unknown metric name is the call's
        // fault, and the first record would only be where it shows.
        const double similarity = Utils::calculate_similarity(query, v, space_);

        json meta = for_record(index, [&] {
            const std::string plaintext = cipher.decrypt(sealed);
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
        ++index;
    }

    // Stable, so records of equal similarity keep their input order.
    const bool descending = space_ == "COSINE" || space_ == "INNER_PRODUCT";
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
