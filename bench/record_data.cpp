#include "record_data.h"

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <utility>

#include "common.h"
#include "records/json.h"

namespace pel_bench {
namespace {

using nlohmann::json;

// Different for each record, so that compression sees varied text; the pad
// brings every dump to the same length.
json make_meta(int index) {
    char title[32];
    std::snprintf(title, sizeof title, "doc %06d", index);
    json meta = {{"title", title}, {"lang", index % 2 == 0 ? "en" : "de"}, {"score", (index % 400) / 4.0},
                 {"pad", ""}};
    const std::size_t size = meta.dump().size();
    if (size > kMetaBytes) {
        throw std::logic_error("meta skeleton longer than " + std::to_string(kMetaBytes) + " bytes");
    }
    meta["pad"] = std::string(kMetaBytes - size, 'x');
    if (meta.dump().size() != kMetaBytes) {
        throw std::logic_error("meta is not " + std::to_string(kMetaBytes) + " bytes");
    }
    return meta;
}

}  // namespace

std::string record_set_text(int count, int dim) {
    json records = json::array();
    for (int i = 0; i < count; ++i) {
        char id[32];
        std::snprintf(id, sizeof id, "rec-%06d", i);
        json record;
        record["id"] = id;
        record["filter"] = {{"group", i % 8}, {"active", i % 3 != 0}};
        record["meta"] = make_meta(i);
        record["vector"] = random_vector(dim, static_cast<std::uint64_t>(i) + 1);
        records.push_back(std::move(record));
    }
    return records.dump();
}

}  // namespace pel_bench
