#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

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
        EXPECT_TRUE(message == "Record at index 0: Decryption failed." ||
                    message.rfind("Record at index 0: Decompression failed with error: ", 0) == 0)
            << message;
    }
}

}  // namespace
