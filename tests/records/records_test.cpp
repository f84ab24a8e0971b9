#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include "records/json.h"
#include "records/records.h"
#include "records/session.h"
#include "sealing/aes_cbc.h"
#include "sealing/random_source.h"
#include "transform/pelmo.h"

namespace {

using nlohmann::json;
using Pelmora::Pelmo;
using Pelmora::Vector;

const char* const kKey = "7e41c09b2d5fa38816cb0e4f9a27d563";
const char* const kOtherKey = "00112233445566778899aabbccddeeff";
const char* const kMetrics[] = {"COSINE", "L2", "INNER_PRODUCT"};

std::vector<std::string> keys_of(const json& object) {
    std::vector<std::string> keys;
    for (const auto& item : object.items()) keys.push_back(item.key());
    return keys;
}

std::vector<std::string> ids_of(const json& records) {
    std::vector<std::string> ids;
    for (const json& record : records) ids.push_back(record.at("id").get<std::string>());
    return ids;
}

bool all_reals(const json& array) {
    for (const json& x : array) {
        if (!x.is_number_float()) return false;
    }
    return true;
}

// The index of a failed record's place, as the set's iteration counts it.
std::optional<std::size_t> index_of(const std::optional<Pelmora::RecordPlace>& place) {
    if (!place) return std::nullopt;
    return place->index;
}

Vector query_of(std::vector<double> values) {
    return Eigen::Map<const Vector>(values.data(), static_cast<Eigen::Index>(values.size()));
}

TEST(RecordCodec, EncodedAndOpenedForms) {
    const Pelmo codec(kKey, "L2", 1, 3);
    const json input = json::parse(R"([
        {"vector": [1, 2, 3], "meta": {"b": [1, "x"], "a": null}, "id": "r1", "filter": {"z": 1, "y": 2}, "fifth": 5}
    ])");
    const json encoded = codec.encode(input);
    ASSERT_EQ(1u, encoded.size());
    const json& e = encoded[0];
    EXPECT_EQ((std::vector<std::string>{"filter", "id", "meta", "vector"}), keys_of(e));
    EXPECT_EQ(input[0]["filter"], e["filter"]);
    EXPECT_EQ("r1", e["id"]);
    const std::string sealed = e["meta"].get<std::string>();
    ASSERT_EQ(24u, sealed.find(':')) << sealed;
    EXPECT_EQ("==", sealed.substr(22, 2));
    EXPECT_EQ(3u, e["vector"].size());
    EXPECT_TRUE(all_reals(e["vector"])) << e["vector"];

    const json opened = codec.decode(encoded, query_of({1, 2, 3}));
    ASSERT_EQ(1u, opened.size());
    const json& o = opened[0];
    EXPECT_EQ((std::vector<std::string>{"filter", "id", "meta", "similarity", "vector"}), keys_of(o));
    EXPECT_EQ(input[0]["meta"], o["meta"]);
    EXPECT_TRUE(o["similarity"].is_number_float());
    EXPECT_TRUE(all_reals(o["vector"])) << o["vector"];
    const std::string prefix = R"({"filter":{"y":2,"z":1},"id":"r1","meta":{"a":null,"b":[1,"x"]},"similarity":)";
    EXPECT_EQ(0u, o.dump().rfind(prefix, 0)) << o.dump();
}

TEST(RecordCodec, IterationOverArrayObjectAndNull) {
    const Pelmo codec(kKey, "INNER_PRODUCT", 2, 2);
    auto record = [](const char* id, double x) {
        return json{{"id", id}, {"filter", nullptr}, {"meta", id}, {"vector", {x, 1.0}}};
    };

    // An object's values are the records, in ascending order of its keys.
    const json object = {{"k3", record("c", 3)}, {"k1", record("a", 1)}, {"k2", record("b", 2)}};
    const json encoded_object = codec.encode(object);
    EXPECT_TRUE(encoded_object.is_array());
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), ids_of(encoded_object));

    // An array keeps its order, duplicates included.
    const json array = {record("x", 5), record("x", 4), record("y", 6)};
    EXPECT_EQ((std::vector<std::string>{"x", "x", "y"}), ids_of(codec.encode(array)));

    EXPECT_EQ(json::array(), codec.encode(nullptr));
    EXPECT_EQ(json::array(), codec.encode(json::array()));
    EXPECT_EQ(json::array(), codec.decode(nullptr, query_of({1, 0})));

    json encoded_as_object;
    encoded_as_object["2"] = encoded_object[0];
    encoded_as_object["1"] = encoded_object[2];
    const json opened = codec.decode(encoded_as_object, query_of({1, 0}));
    EXPECT_EQ((std::vector<std::string>{"c", "a"}), ids_of(opened));
}

TEST(RecordCodec, EverySealingDrawsItsOwnIv) {
    const Pelmo codec(kKey, "COSINE", 1, 2);
    const json input = {{{"id", "a"}, {"filter", 1}, {"meta", {{"same", true}}}, {"vector", {0.5, 0.25}}},
                        {{"id", "b"}, {"filter", 2}, {"meta", {{"same", true}}}, {"vector", {0.5, 0.25}}}};
    const json first = codec.encode(input);
    const json second = codec.encode(input);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(first[i]["id"], second[i]["id"]);
        EXPECT_EQ(first[i]["filter"], second[i]["filter"]);
        EXPECT_EQ(first[i]["vector"], second[i]["vector"]);
        EXPECT_NE(first[i]["meta"], second[i]["meta"]);
    }
    EXPECT_NE(first[0]["meta"], first[1]["meta"]);
    EXPECT_EQ(first[0]["vector"], first[1]["vector"]);
}

TEST(RecordCodec, ZeroVectorsComeOutAsNaN) {
    const Pelmo codec(kKey, "L2", 1, 3);
    const json encoded = codec.encode(json::parse(R"([{"id":"z","filter":null,"meta":null,"vector":[0,0,0]}])"));
    for (const json& x : encoded[0]["vector"]) EXPECT_TRUE(std::isnan(x.get<double>()));
    EXPECT_NE(std::string::npos, encoded.dump().find(R"("vector":[null,null,null])"));

    json zeros = encoded;
    zeros[0]["vector"] = {0.0, 0.0, 0.0};
    const json opened = codec.decode(zeros, query_of({1, 2, 3}));
    EXPECT_TRUE(std::isnan(opened[0]["similarity"].get<double>()));
    EXPECT_EQ(nullptr, opened[0]["meta"]);
}

// Vectors whose norm is 0, or whose squared norm leaves the range of a double,
// encode to NaN, which the text holds as null. Decoding that text must give the
// record back whole (NaN vector and similarity, ranked last) and leave the rest
// of its set untouched.
TEST(RecordCodec, VectorsThatEncodeToNaNDecodeFromTheirText) {
    const struct {
        const char* name;
        const char* vector;
    } cases[] = {
        {"zeros", "[0,0,0,0]"},
        {"negative zeros", "[-0.0,-0.0,-0.0,-0.0]"},
        {"squared norm overflows", "[1.35e154,0,0,0]"},
        {"squared norm overflows, mixed", "[1e200,1,1,1]"},
        {"squared norm underflows", "[5e-324,5e-324,5e-324,5e-324]"},
    };
    for (const auto& c : cases) {
        const std::string text = std::string(R"([{"id":"a","filter":1,"meta":{"m":1},"vector":[1,2,3,4]},)") +
                                 R"({"id":"n","filter":{"f":[1,"x"]},"meta":{"keep":"me"},"vector":)" + c.vector +
                                 R"(},{"id":"b","filter":2,"meta":[2],"vector":[4,-3,2,1]}])";
        for (const int version : {1, 2}) {
            for (const char* metric : kMetrics) {
                SCOPED_TRACE(std::string(c.name) + ", " + metric + " v" + std::to_string(version));
                const Pelmo codec(kKey, metric, version, 4);
                const std::string encoded = codec.encode(json::parse(text)).dump();
                EXPECT_NE(std::string::npos, encoded.find(R"("id":"n","meta":)")) << encoded;
                EXPECT_NE(std::string::npos, encoded.find(R"("vector":[null,null,null,null]})")) << encoded;

                const json opened = codec.decode(json::parse(encoded), query_of({1, 2, 3, 4}));
                ASSERT_EQ(3u, opened.size());
                const json& last = opened[2];
                EXPECT_EQ("n", last["id"]);
                EXPECT_EQ(json::parse(R"({"f":[1,"x"]})"), last["filter"]);
                EXPECT_EQ(json::parse(R"({"keep":"me"})"), last["meta"]);
                EXPECT_TRUE(std::isnan(last["similarity"].get<double>()));
                EXPECT_EQ(R"("similarity":null,"vector":[null,null,null,null]})",
                          last.dump().substr(last.dump().find("\"similarity\"")));
                for (int i = 0; i < 2; ++i) {
                    EXPECT_FALSE(std::isnan(opened[i]["similarity"].get<double>())) << opened[i].dump();
                }
            }
        }
    }
}

// Random records with every third encoded vector zeroed, which decodes to a NaN
// similarity: the ranking must stay a total order and keep every record.
TEST(RecordRanking, NumbersInMetricOrderThenNaNs) {
    const unsigned seed = 0x5EED0001;
    std::cout << "seed " << seed << std::endl;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> uniform(-4.0, 4.0);
    const int dim = 5;
    const int count = 60;  // well beyond the sort's small-range cutoff

    json input = json::array();
    for (int i = 0; i < count; ++i) {
        json vector = json::array();
        for (int j = 0; j < dim; ++j) vector.push_back(uniform(generator));
        input.push_back({{"id", std::to_string(i)}, {"filter", i}, {"meta", i}, {"vector", vector}});
    }
    std::vector<double> q(dim);
    for (double& x : q) x = uniform(generator);

    for (const int version : {1, 2}) {
        for (const char* metric : kMetrics) {
            SCOPED_TRACE(std::string(metric) + " v" + std::to_string(version));
            const Pelmo codec(kKey, metric, version, dim);
            json encoded = codec.encode(input);
            std::set<std::string> zeroed;
            for (int i = 0; i < count; i += 3) {
                encoded[i]["vector"] = std::vector<double>(dim, 0.0);
                zeroed.insert(std::to_string(i));
            }
            const json opened = codec.decode(encoded, query_of(q));
            ASSERT_EQ(static_cast<std::size_t>(count), opened.size());

            const bool descending = std::string(metric) != "L2";
            std::set<std::string> seen;
            bool in_nan_tail = false;
            double previous = descending ? INFINITY : -INFINITY;
            for (const json& record : opened) {
                const std::string id = record["id"].get<std::string>();
                EXPECT_TRUE(seen.insert(id).second) << "twice: " << id;
                const double s = record["similarity"].get<double>();
                if (std::isnan(s)) {
                    in_nan_tail = true;
                    EXPECT_EQ(1u, zeroed.count(id)) << id;
                    continue;
                }
                EXPECT_FALSE(in_nan_tail) << "number " << s << " after a NaN";
                EXPECT_EQ(0u, zeroed.count(id)) << id;
                EXPECT_TRUE(descending ? s <= previous : s >= previous) << previous << " then " << s;
                previous = s;
            }
            EXPECT_EQ(static_cast<std::size_t>(count), seen.size());
        }
    }
}

TEST(RecordRanking, ZeroQueryUnderCosineKeepsEveryRecord) {
    const Pelmo codec(kKey, "COSINE", 1, 2);
    json input = json::array();
    for (int i = 0; i < 20; ++i) {
        input.push_back({{"id", std::to_string(i)}, {"filter", nullptr}, {"meta", nullptr}, {"vector", {i + 1.0, 2.0}}});
    }
    const json opened = codec.decode(codec.encode(input), query_of({0, 0}));
    std::set<std::string> ids;
    for (const json& record : opened) {
        EXPECT_TRUE(std::isnan(record["similarity"].get<double>()));
        ids.insert(record["id"].get<std::string>());
    }
    EXPECT_EQ(20u, ids.size());
}

// The place the set's work gives a failing record, beside the failure that
// passes Pelmo::decode unchanged.
std::optional<std::size_t> failing_record_of_decode(const Pelmo& codec, const json& records, const Vector& query) {
    std::optional<Pelmora::RecordPlace> failed;
    try {
        Pelmora::decode_set(codec, records, query, failed);
    } catch (const std::exception&) {
        return index_of(failed);
    }
    ADD_FAILURE() << "no failure";
    return std::nullopt;
}

TEST(RecordCodec, AnotherKeyFailsOnlyWhenTheMetadataOpens) {
    const Pelmo writer(kKey, "L2", 2, 2);
    const Pelmo reader(kOtherKey, "L2", 2, 2);
    const json encoded = writer.encode(json::parse(R"([{"id":"a","filter":null,"meta":{"m":1},"vector":[1,2]}])"));
    try {
        reader.decode(encoded, query_of({1, 2}));
        ADD_FAILURE() << "no failure";
    } catch (const std::runtime_error& e) {
        // About one wrong-key text in 255 ends in valid padding and then fails
        // in the decompression instead.
        const std::string message = e.what();
        EXPECT_TRUE(message == "Decryption failed." || message.rfind("Decompression failed with error: ", 0) == 0)
            << message;
    }
    EXPECT_EQ(std::optional<std::size_t>(0), failing_record_of_decode(reader, encoded, query_of({1, 2})));
}

// What a failure is, seen where it leaves the codec object.
struct Caught {
    std::string type;  // "type_error", "out_of_range", "parse_error", or the std:: name
    int id = 0;        // the JSON library's id, 0 for the standard library's types
    std::string what;
    std::optional<std::size_t> record;
};

bool operator==(const Caught& a, const Caught& b) {
    return a.type == b.type && a.id == b.id && a.what == b.what && a.record == b.record;
}

std::ostream& operator<<(std::ostream& out, const Caught& c) {
    out << c.type << " " << c.id << " \"" << c.what << "\" record ";
    return c.record ? out << *c.record : out << "none";
}

// The failure of `call(failed)`, with the place it leaves in `failed`.
template <class Call>
Caught caught(Call&& call) {
    std::optional<Pelmora::RecordPlace> failed;
    try {
        call(failed);
    } catch (const json::exception& e) {
        Caught c{"json", e.id, e.what(), index_of(failed)};
        if (typeid(e) == typeid(json::type_error)) c.type = "type_error";
        if (typeid(e) == typeid(json::out_of_range)) c.type = "out_of_range";
        if (typeid(e) == typeid(json::parse_error)) c.type = "parse_error";
        return c;
    } catch (const std::exception& e) {
        Caught c{"std::exception", 0, e.what(), index_of(failed)};
        if (typeid(e) == typeid(std::runtime_error)) c.type = "std::runtime_error";
        if (typeid(e) == typeid(std::invalid_argument)) c.type = "std::invalid_argument";
        return c;
    }
    return {"nothing thrown", 0, "", std::nullopt};
}

// The JSON library's exceptions and the standard library's leave Pelmo::encode
// and Pelmo::decode as themselves, type, id and text; the work on the set
// gives the failing record's index beside them, which the calls report.
TEST(RecordCodec, RecordFailuresKeepTheirTypeAndId) {
    Pelmora::AES_CBC cipher(kKey);
    const std::string meta = cipher.encrypt(R"({"m":1})");
    const json good_to_encode = {{"id", "a"}, {"filter", nullptr}, {"meta", 1}, {"vector", {1, 2, 3}}};
    const json good_to_decode = {{"id", "a"}, {"filter", nullptr}, {"meta", meta}, {"vector", {1, 2, 3}}};
    auto with = [](json record, const char* member, json value) {
        if (value.is_discarded()) {
            record.erase(member);
        } else {
            record[member] = std::move(value);
        }
        return record;
    };
    const json missing = json(json::value_t::discarded);

    struct Row {
        const char* name;
        bool decode;
        json records;
        Caught want;
        const char* space = "L2";
        std::string key = kKey;
    };
    const Row rows[] = {
        {"record not an object", false, json::array({good_to_encode, 5}),
         {"type_error", 304, "[json.exception.type_error.304] cannot use at() with number", 1}},
        {"no id", false, json::array({with(good_to_encode, "id", missing)}),
         {"out_of_range", 403, "[json.exception.out_of_range.403] key 'id' not found", 0}},
        {"id a number", false, json::array({with(good_to_encode, "id", 1)}),
         {"type_error", 302, "[json.exception.type_error.302] type must be string, but is number", 0}},
        {"vector element a string", false, json::array({good_to_encode, good_to_encode, with(good_to_encode, "vector", {1, "2", 3})}),
         {"type_error", 302, "[json.exception.type_error.302] type must be number, but is string", 2}},
        {"vector too short", false, json::array({with(good_to_encode, "vector", {1, 2})}),
         {"std::invalid_argument", 0, "\"vector\" holds 2 numbers, the dimension is 3.", 0}},
        {"decode: bare string", true, "abc",
         {"type_error", 304, "[json.exception.type_error.304] cannot use at() with string", 0}},
        {"decode: no filter", true, json::array({good_to_decode, with(good_to_decode, "filter", missing)}),
         {"out_of_range", 403, "[json.exception.out_of_range.403] key 'filter' not found", 1}},
        {"decode: meta never sealed", true, json::array({with(good_to_decode, "meta", {{"m", 1}})}),
         {"type_error", 302, "[json.exception.type_error.302] type must be string, but is object", 0}},
        {"decode: vector holds true", true, json::array({with(good_to_decode, "vector", {1, true, 3})}),
         {"type_error", 302, "[json.exception.type_error.302] type must be number, but is boolean", 0}},
        {"decode: vector of strings, too short", true, json::array({with(good_to_decode, "vector", {"1", "2"})}),
         {"type_error", 302, "[json.exception.type_error.302] type must be number, but is string", 0}},
        {"decode: vector of nulls, too short", true, json::array({with(good_to_decode, "vector", {nullptr, nullptr})}),
         {"std::invalid_argument", 0, "\"vector\" holds 2 numbers, the dimension is 3.", 0}},
        {"encode: vector holds null", false, json::array({with(good_to_encode, "vector", {1, nullptr, 3})}),
         {"type_error", 302, "[json.exception.type_error.302] type must be number, but is null", 0}},
        {"decode: opened metadata not JSON", true,
         json::array({good_to_decode, with(good_to_decode, "meta", cipher.encrypt("not json"))}),
         {"parse_error", 101,
          "[json.exception.parse_error.101] parse error at line 1, column 2: syntax error while parsing value - "
          "invalid literal; last read: 'no'",
          1}},
        {"decode: damaged meta", true, json::array({with(good_to_decode, "meta", meta.substr(0, 25))}),
         {"std::runtime_error", 0, "Decryption failed.", 0}},
        // The call's fault, not the record's: no index, and no record is needed.
        {"encode: unrecognised metric", false, json::array(),
         {"std::runtime_error", 0,
          "Invalid similarity metric. The metric name given is \"cosine\"; the names are \"COSINE\", \"L2\" and "
          "\"INNER_PRODUCT\".",
          std::nullopt},
         "cosine"},
        {"decode: unrecognised metric", true, json::array({good_to_decode}),
         {"std::runtime_error", 0,
          "Invalid similarity metric. The metric name given is \"cosine\"; the names are \"COSINE\", \"L2\" and "
          "\"INNER_PRODUCT\".",
          std::nullopt},
         "cosine"},
        {"encode: a 40-character key, one of its pairs \"0x\"", false, json::array(),
         {"std::runtime_error", 0,
          "Invalid key size. Must be 16, 24, or 32 bytes. The key has 40 characters (20 bytes); use 32, 48 or 64 "
          "hexadecimal digits.",
          std::nullopt},
         "L2", std::string(kKey).substr(0, 28) + "0x0123456789"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Pelmo codec(row.key, row.space, 1, 3);
        const Caught got = caught([&](std::optional<Pelmora::RecordPlace>& failed) {
            if (row.decode) {
                Pelmora::decode_set(codec, row.records, query_of({1, 2, 3}), failed);
            } else {
                Pelmora::encode_set(codec, row.records, failed);
            }
        });
        EXPECT_EQ(row.want, got);
        Caught plain = caught([&](std::optional<Pelmora::RecordPlace>&) {
            if (row.decode) {
                codec.decode(row.records, query_of({1, 2, 3}));
            } else {
                codec.encode(row.records);
            }
        });
        plain.record = got.record;
        EXPECT_EQ(row.want, plain) << "through Pelmo::" << (row.decode ? "decode" : "encode");
    }
}

// A failure in the work on a record keeps that record's place, and passes
// unchanged; exhausted memory and a failure of the random source are no
// record's fault and keep none.
TEST(RecordCodec, OnlyARecordsOwnFaultsGetItsPlace) {
    const std::string member = "k2";
    const struct {
        const char* name;
        void (*fail)();
        bool placed;
    } rows[] = {
        {"a record's fault", [] { throw std::invalid_argument("bad"); }, true},
        {"the JSON library's", [] { json::array().at(3); }, true},
        {"exhausted memory", [] { throw std::bad_alloc(); }, false},
        {"the random source", [] { throw Pelmora::RandomSourceError("no bytes"); }, false},
    };
    for (const auto& row : rows) {
        for (const std::string* in_object : {static_cast<const std::string*>(nullptr), &member}) {
            SCOPED_TRACE(std::string(row.name) + (in_object ? ", a set given as an object" : ""));
            std::optional<Pelmora::RecordPlace> failed;
            bool passed = false;
            try {
                Pelmora::for_record({7, in_object}, failed, row.fail);
            } catch (const std::bad_alloc&) {
                passed = !row.placed;
            } catch (const Pelmora::RandomSourceError&) {
                passed = !row.placed;
            } catch (const std::exception&) {
                passed = row.placed;
            }
            EXPECT_TRUE(passed);
            ASSERT_EQ(row.placed, failed.has_value());
            if (failed) {
                EXPECT_EQ(7u, failed->index);
                EXPECT_EQ(in_object ? std::optional<std::string>(member) : std::nullopt, failed->member);
                EXPECT_EQ(in_object ? "Record \"k2\" of the record set, an object" : "Record at index 7",
                          failed->describe());
            }
        }
    }
}

}  // namespace
