#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "record_calls.h"
#include "records/json.h"
#include "sealing/aes_cbc.h"
#include "transform/pelmo.h"

namespace {

using nlohmann::json;
using pel_test::call_decode;
using pel_test::call_encode;
using pel_test::Outcome;

const char* const kKey = "7e41c09b2d5fa38816cb0e4f9a27d563";
const char* const kKey20 = "7e41c09b2d5fa38816cb";  // 10 bytes: no AES key
const char* const kKey40 = "7e41c09b2d5fa38816cb0e4f9a27d5637e41c09b";  // 20 bytes
const char* const kKey41 = "7e41c09b2d5fa38816cb0e4f9a27d5637e41c09b2";  // 21 bytes
const std::string kInvalidKeySize = "Invalid key size. Must be 16, 24, or 32 bytes.";

// Decoded vectors and scores match their inputs only up to the rounding of the
// transform, its inverse and the noise removal.
constexpr double kVectorTolerance = 1e-10;
constexpr double kSimilarityTolerance = 1e-9;

// Non-ASCII text, null "meta" and "filter", integer vectors, an extra key, a
// repeated "id" and a U+0000 that the output must escape.
const char* const kFixture = R"([
  {"id": "café-№1", "filter": {"lang": "日本語", "n": 3}, "extra": "dropped",
   "meta": {"title": "Grüße", "tags": ["α", "β"], "n": 1.5, "nul": "a\u0000b"}, "vector": [1, 2, 3, 4]},
  {"id": "r2", "filter": null, "meta": null, "vector": [0.5, -1.25, 2.0, 0.75]},
  {"id": "r3", "filter": ["a", 1, true], "meta": "plain text", "vector": [-3, 0.1, 0.2, 5]},
  {"id": "r2", "filter": "dup", "meta": [1, 2, {"k": "v"}], "vector": [10, -2, 7, 0.001]},
  {"id": "r5", "filter": 7, "meta": {"deep": {"er": [[]]}}, "vector": [-0.5, -0.5, 4, -2]}
])";
constexpr int kFixtureDim = 4;

std::vector<std::string> keys_of(const json& object) {
    std::vector<std::string> keys;
    for (const auto& item : object.items()) keys.push_back(item.key());
    return keys;
}

double oracle_similarity(const std::vector<double>& a, const std::vector<double>& b, const std::string& metric) {
    double dot = 0, aa = 0, bb = 0, dd = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        dot += a[i] * b[i];
        aa += a[i] * a[i];
        bb += b[i] * b[i];
        dd += (a[i] - b[i]) * (a[i] - b[i]);
    }
    if (metric == "COSINE") return dot / std::sqrt(aa * bb);
    if (metric == "L2") return std::sqrt(dd);
    return dot;
}

TEST(RecordExports, RoundTripUnderEveryMetricAndProfile) {
    const json input = json::parse(kFixture);
    const std::size_t query_index = 2;
    const std::vector<double> query = input[query_index]["vector"].get<std::vector<double>>();

    for (const int version : {1, 2}) {
        for (const std::string metric : {"COSINE", "L2", "INNER_PRODUCT"}) {
            SCOPED_TRACE(metric + " v" + std::to_string(version));
            testing::internal::CaptureStderr();
            const Outcome enc = call_encode(kKey, metric.c_str(), version, kFixtureDim, kFixture);
            const Outcome dec = call_decode(kKey, metric.c_str(), version, kFixtureDim, query.data(), enc.text.c_str());
            EXPECT_EQ("", testing::internal::GetCapturedStderr());
            ASSERT_FALSE(enc.failed) << enc.error;
            ASSERT_FALSE(dec.failed) << dec.error;

            const json encoded = json::parse(enc.text);
            EXPECT_EQ(encoded.dump(), enc.text);  // compact, keys in byte order
            EXPECT_NE(std::string::npos, enc.text.find("\"id\":\"café-№1\""));
            EXPECT_NE(std::string::npos, enc.text.find("\"lang\":\"日本語\""));
            ASSERT_EQ(input.size(), encoded.size());
            for (std::size_t i = 0; i < input.size(); ++i) {
                EXPECT_EQ((std::vector<std::string>{"filter", "id", "meta", "vector"}), keys_of(encoded[i]));
                EXPECT_EQ(input[i]["id"], encoded[i]["id"]);
                EXPECT_EQ(input[i]["filter"], encoded[i]["filter"]);
                EXPECT_TRUE(encoded[i]["meta"].is_string());
            }

            const json opened = json::parse(dec.text);
            EXPECT_EQ(opened.dump(), dec.text);
            EXPECT_EQ(std::strlen(dec.text.c_str()), dec.text.size());  // U+0000 escaped
            ASSERT_EQ(input.size(), opened.size());
            std::map<std::string, std::size_t> by_identity;  // "id" is repeated, "id" and "filter" are not
            for (std::size_t i = 0; i < input.size(); ++i) {
                by_identity[input[i]["id"].dump() + input[i]["filter"].dump()] = i;
            }
            const bool descending = metric != "L2";
            for (std::size_t rank = 0; rank < opened.size(); ++rank) {
                const json& o = opened[rank];
                EXPECT_EQ((std::vector<std::string>{"filter", "id", "meta", "similarity", "vector"}), keys_of(o));
                const auto found = by_identity.find(o["id"].dump() + o["filter"].dump());
                ASSERT_NE(by_identity.end(), found) << o.dump();
                const json& in = input[found->second];
                by_identity.erase(found);
                EXPECT_EQ(in["meta"], o["meta"]);
                const std::vector<double> original = in["vector"].get<std::vector<double>>();
                ASSERT_EQ(original.size(), o["vector"].size());
                for (std::size_t j = 0; j < original.size(); ++j) {
                    EXPECT_TRUE(o["vector"][j].is_number_float());
                    EXPECT_NEAR(original[j], o["vector"][j].get<double>(), kVectorTolerance);
                }
                const double s = o["similarity"].get<double>();
                EXPECT_NEAR(oracle_similarity(query, original, metric), s, kSimilarityTolerance);
                if (rank > 0) {
                    const double before = opened[rank - 1]["similarity"].get<double>();
                    EXPECT_TRUE(descending ? before >= s : before <= s) << before << " then " << s;
                }
            }
            EXPECT_TRUE(by_identity.empty());
            if (metric == "L2") {
                EXPECT_EQ("r3", opened[0]["id"]);
                EXPECT_NEAR(0.0, opened[0]["similarity"].get<double>(), kSimilarityTolerance);
            }
        }
    }
}

TEST(RecordExports, EmptySetsGiveAnEmptyArray) {
    struct Case {
        const char* name;
        bool decode;
        const char* records;
        const char* space;
        int version;
    };
    const Case cases[] = {
        {"encode []", false, "[]", "COSINE", 1},
        {"encode null", false, "null", "L2", 2},
        {"encode with blanks", false, " \n[ ]\t", "COSINE", 2},
        {"decode []", true, "[]", "INNER_PRODUCT", 1},
        {"decode null", true, "null", "COSINE", 2},
    };
    const double query[3] = {1, 2, 3};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::internal::CaptureStderr();
        const Outcome o = c.decode ? call_decode(kKey, c.space, c.version, 3, query, c.records)
                                   : call_encode(kKey, c.space, c.version, 3, c.records);
        EXPECT_EQ("", testing::internal::GetCapturedStderr());
        EXPECT_FALSE(o.failed) << o.error;
        EXPECT_TRUE(o.stored);
        EXPECT_EQ("[]", o.text);
    }
    free_output_buffer(nullptr);
    EXPECT_EQ(nullptr, last_error_message());
}

enum class Op { encode, decode };

struct Failure {
    const char* name;
    Op op;
    const char* records;  // $META, $DAMAGED, $NOTJSON, $EMPTY and $DEEP stand for sealed texts
    std::string message;
    const char* key = kKey;
    const char* space = "COSINE";
    int version = 1;
    int dim = 3;
    bool null_query = false;
    bool null_out = false;
    // The message is written on a line of its own instead of the guard's line.
    bool own_line = false;
    // That line, when it says less than the message.
    const char* line = nullptr;
};

// {"m":1} sealed under another key. Opened under kKey, the first ends in
// invalid padding; the second happens to end in valid padding and so fails in
// the decompression instead (about one such text in 255).
const char* const kForeignBadPadding = "qnqQ7r0TIoE0hlfwPms03Q==:sDC8iu8MbkEEtNAzzTXhvQ==";
const char* const kForeignBadStream = "gw0E8817JfrgZ90NL6+AJg==:5O5r0JMF5P5B6S23zMJ+0Q==";

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::string fill_in(const char* records) {
    Pelmora::AES_CBC cipher(kKey);
    const std::string meta = cipher.encrypt(R"({"m":1})");
    std::string text = records;
    text = replace_all(text, "$META", meta);
    text = replace_all(text, "$DAMAGED", meta.substr(0, 25));  // IV and ":", no ciphertext
    text = replace_all(text, "$NOTJSON", cipher.encrypt("not json"));
    text = replace_all(text, "$EMPTY", cipher.encrypt(""));
    text = replace_all(text, "$DEEP", cipher.encrypt(std::string(1001, '[')));
    text = replace_all(text, "$FOREIGN_PADDING", kForeignBadPadding);
    text = replace_all(text, "$FOREIGN_STREAM", kForeignBadStream);
    return text;
}

// `count` records, each `good` but the one at `broken_at`.
std::string record_set(int count, int broken_at, const std::string& good, const std::string& broken) {
    std::string text = "[";
    for (int i = 0; i < count; ++i) {
        text += (i > 0 ? "," : "") + (i == broken_at ? broken : good);
    }
    return text + "]";
}

const std::string kParse101 = "[json.exception.parse_error.101] parse error at line 1, column ";
const std::string kEndOfInput = "syntax error while parsing value - unexpected end of input; expected '[', '{', or a literal";
const std::string kNested = " is nested deeper than 1000 levels of arrays and objects.";
const std::string kDeep(1001, '[');

#define OK_RECORD R"({"id":"a","filter":null,"meta":1,"vector":[1,2,3]})"
#define SEALED_RECORD R"({"id":"a","filter":null,"meta":"$META","vector":[0.1,0.2,0.3]})"

const std::string kKeySize20 = kInvalidKeySize + " The key has 20 characters (10 bytes); use 32, 48 or 64 hexadecimal digits.";
const std::string kKeySize40 = kInvalidKeySize + " The key has 40 characters (20 bytes); use 32, 48 or 64 hexadecimal digits.";
const std::string kKey0x = "0x" + std::string(kKey40).substr(2);  // 40 characters, 38 of them digits
const std::string kBadMetric = "Invalid similarity metric. The metric name given is ";
const std::string kMetricNames = "; the names are \"COSINE\", \"L2\" and \"INNER_PRODUCT\".";
const std::string kThousandNoMeta537 =
    record_set(1000, 537, OK_RECORD, R"({"id":"b","filter":1,"vector":[1,2,3]})");
const std::string kThousandDamaged537 =
    record_set(1000, 537, SEALED_RECORD, R"({"id":"b","filter":null,"meta":"$DAMAGED","vector":[1,2,3]})");

// Runs the failing call and checks what the host sees: nothing stored, the
// reason from last_error_message, and one line on stderr.
void expect_failure(const Failure& f) {
    SCOPED_TRACE(f.name);
    const double query[3] = {0.1, 0.2, 0.3};
    const std::string records = f.records ? fill_in(f.records) : std::string();
    const char* text = f.records ? records.c_str() : nullptr;
    const char* function = f.op == Op::encode ? "encode" : "decode";
    testing::internal::CaptureStderr();
    const Outcome o = f.op == Op::encode
                          ? call_encode(f.key, f.space, f.version, f.dim, text, f.null_out)
                          : call_decode(f.key, f.space, f.version, f.dim, f.null_query ? nullptr : query, text,
                                        f.null_out);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(o.stored) << o.text;
    EXPECT_TRUE(o.failed);
    EXPECT_EQ(f.message, o.error);
    // One line per failure: the system's own line, or else the guard's.
    const std::string own = f.line != nullptr ? f.line : f.message;
    EXPECT_EQ(f.own_line ? own + "\n" : std::string(function) + ": " + f.message + "\n", err);
}

TEST(RecordExports, FailuresAreReportedAndStoreNothing) {
    const Failure failures[] = {
        // Once-per-call steps, before any record.
        {"20-digit key, []", Op::encode, "[]", kKeySize20, kKey20},
        {"20-digit key, null", Op::encode, "null", kKeySize20, kKey20},
        {"20-digit key, decode []", Op::decode, "[]", kKeySize20, kKey20},
        {"20-digit key, decode null", Op::decode, "null", kKeySize20, kKey20},
        {"40-digit key, records not looked at", Op::encode, kThousandNoMeta537.c_str(), kKeySize40, kKey40},
        {"41-digit key: the lone digit is a byte", Op::decode, "[]",
         kInvalidKeySize + " The key has 41 characters (21 bytes); use 32, 48 or 64 hexadecimal digits.", kKey41},
        {"0x and 38 digits: characters are counted", Op::encode, "[]", kKeySize40, kKey0x.c_str()},
        {"12-character key: empty rotation field", Op::encode, "[]",
         "The key has 12 characters; the codec reads the first 16.", "0123456789ab"},
        {"2-character key", Op::decode, "[]", "The key has 2 characters; the codec reads the first 16.", "7e"},
        {"shear field not hexadecimal", Op::encode, "[]",
         "The key's characters 8 to 11 (\"zz5f\") are not hexadecimal.", "7e41c09bzz5fa38816cb0e4f9a27d563"},
        {"noise field: the cipher key's first pair fails before it", Op::decode, "[]",
         "The key's characters 0 to 1 (\"zz\") are not hexadecimal.", "zz41c09b2d5fa38816cb0e4f9a27d563"},
        {"cipher key pair not hexadecimal", Op::encode, "[]",
         "The key's characters 20 to 21 (\"zz\") are not hexadecimal.", "7e41c09b2d5fa38816cbzz4f9a27d563"},
        // The metric name comes last of them, even without records.
        {"encode [] under cosine", Op::encode, "[]", kBadMetric + "\"cosine\"" + kMetricNames, kKey, "cosine"},
        {"encode null under Cosine", Op::encode, "null", kBadMetric + "\"Cosine\"" + kMetricNames, kKey, "Cosine"},
        {"encode a record under FOO", Op::encode, "[" OK_RECORD "]", kBadMetric + "\"FOO\"" + kMetricNames, kKey,
         "FOO"},
        {"encode [] under an empty name", Op::encode, "[]", kBadMetric + "\"\"" + kMetricNames, kKey, ""},
        {"decode [] under FOO", Op::decode, "[]", kBadMetric + "\"FOO\"" + kMetricNames, kKey, "FOO"},
        {"metric name after the cipher key", Op::encode, "[]", kKeySize20, kKey20, "FOO"},
        {"metric name after the key fields", Op::encode, "[]",
         "The key's characters 8 to 11 (\"zz5f\") are not hexadecimal.", "7e41c09bzz5fa38816cb0e4f9a27d563", "FOO"},
        {"metric name after the dimension decoding needs", Op::decode, "[]",
         "Decoding needs a dimension of at least 2, got 1.", kKey, "FOO", 1, 1},
        {"metric name after the parse error", Op::encode, "[",
         "Error parsing JSON data: " + kParse101 + "2: " + kEndOfInput, kKey, "FOO", 1, 3, false, false, true},
        {"version 3", Op::encode, "[]", "Invalid version number. The version given is 3; the versions are 1 and 2.",
         kKey, "COSINE", 3, 3, false, false, true, "Invalid version number"},
        {"version 0, decode", Op::decode, "[]", "Invalid version number. The version given is 0; the versions are 1 and 2.",
         kKey, "COSINE", 0, 3, false, false, true, "Invalid version number"},
        {"version 3 and text that does not parse: the version comes first", Op::encode, "[",
         "Invalid version number. The version given is 3; the versions are 1 and 2.", kKey, "COSINE", 3, 3, false,
         false, true, "Invalid version number"},
        {"negative dimension", Op::encode, "[]", "The dimension must not be negative.", kKey, "COSINE", 1, -1},
        {"decode in dimension 1", Op::decode, "[]", "Decoding needs a dimension of at least 2, got 1.", kKey, "L2", 1, 1},
        {"null key", Op::encode, "[]", "The argument key is null.", nullptr},
        {"null space", Op::decode, "[]", "The argument space is null.", kKey, nullptr},
        {"null records_json, encode", Op::encode, nullptr, "The argument records_json is null."},
        {"null records_json, decode", Op::decode, nullptr, "The argument records_json is null."},
        {"null query", Op::decode, "[]", "The argument query is null.", kKey, "L2", 1, 3, true},
        {"null out_json, encode", Op::encode, "[]", "The argument out_json is null.", kKey, "L2", 1, 3, false, true},
        {"null out_json, decode", Op::decode, "[]", "The argument out_json is null.", kKey, "L2", 1, 3, false, true},

        // Text of the record set.
        {"encode: empty text", Op::encode, "", "Error parsing JSON data: " + kParse101 + "1: " + kEndOfInput,
         kKey, "COSINE", 1, 3, false, false, true},
        {"encode: only a comment", Op::encode, "/* c */",
         "Error parsing JSON data: " + kParse101 + "1: syntax error while parsing value - invalid literal; last read: '/'",
         kKey, "COSINE", 1, 3, false, false, true},
        {"encode: trailing text", Op::encode, "[] x",
         "Error parsing JSON data: " + kParse101 +
             "4: syntax error while parsing value - invalid literal; last read: '[] x'; expected end of input",
         kKey, "COSINE", 1, 3, false, false, true},
        {"encode: number beyond double", Op::encode, "[1e999]",
         "Error parsing JSON data: [json.exception.out_of_range.406] number overflow parsing '1e999'", kKey, "COSINE",
         1, 3, false, false, true},
        {"encode: parse error before a bad key", Op::encode, "[",
         "Error parsing JSON data: " + kParse101 + "2: " + kEndOfInput, kKey20, "COSINE", 1, 3, false, false, true},
        {"decode: empty text", Op::decode, "", kParse101 + "1: " + kEndOfInput},
        {"decode: number beyond double", Op::decode, "1e999",
         "[json.exception.out_of_range.406] number overflow parsing '1e999'"},
        {"encode: nested too deep", Op::encode, kDeep.c_str(), "The record set" + kNested},
        {"decode: nested too deep", Op::decode, kDeep.c_str(), "The record set" + kNested},

        // Records to encode, in the order of their reads.
        {"bare string", Op::encode, R"("abc")", "Record at index 0: [json.exception.type_error.304] cannot use at() with string"},
        {"bare number", Op::encode, "5", "Record at index 0: [json.exception.type_error.304] cannot use at() with number"},
        {"number in the array", Op::encode, "[1]", "Record at index 0: [json.exception.type_error.304] cannot use at() with number"},
        {"array in the array", Op::encode, "[[]]", "Record at index 0: [json.exception.type_error.304] cannot use at() with array"},
        // A set given as an object names the member that holds the failing record.
        {"object of strings", Op::encode, R"({"b":"x"})",
         "Record \"b\" of the record set, an object: [json.exception.type_error.304] cannot use at() with string"},
        {"single record, object filter", Op::encode, R"({"id":"a","filter":{"x":1},"meta":1,"vector":[1,2,3]})",
         "Record \"filter\" of the record set, an object: [json.exception.out_of_range.403] key 'id' not found"},
        {"single record, scalar filter", Op::encode, R"({"id":"a","filter":7,"meta":1,"vector":[1,2,3]})",
         "Record \"filter\" of the record set, an object: [json.exception.type_error.304] cannot use at() with number"},
        {"object, its second record broken", Op::encode, R"({"k\"1":)" OK_RECORD R"(,"k\"2":{"id":"b"}})",
         "Record \"k\\\"2\" of the record set, an object: [json.exception.out_of_range.403] key 'filter' not found"},
        {"decode: single record", Op::decode, R"({"id":"a","filter":null,"meta":"$META","vector":[1,2,3]})",
         "Record \"filter\" of the record set, an object: [json.exception.type_error.304] cannot use at() with null"},
        {"no id", Op::encode, R"([{"filter":1,"meta":1,"vector":[1,2,3]}])",
         "Record at index 0: [json.exception.out_of_range.403] key 'id' not found"},
        {"no id and no vector", Op::encode, R"([{"filter":1,"meta":1}])",
         "Record at index 0: [json.exception.out_of_range.403] key 'id' not found"},
        {"numeric id, no filter", Op::encode, R"([{"id":1,"meta":1,"vector":[1,2,3]}])",
         "Record at index 0: [json.exception.type_error.302] type must be string, but is number"},
        {"no filter", Op::encode, R"([{"id":"a","meta":1,"vector":[1,2,3]}])",
         "Record at index 0: [json.exception.out_of_range.403] key 'filter' not found"},
        {"no meta", Op::encode, R"([{"id":"a","filter":1,"vector":[1,2,3]}])",
         "Record at index 0: [json.exception.out_of_range.403] key 'meta' not found"},
        {"no vector", Op::encode, R"([{"id":"a","filter":1,"meta":1}])",
         "Record at index 0: [json.exception.out_of_range.403] key 'vector' not found"},
        {"vector a string", Op::encode, R"([{"id":"a","filter":1,"meta":1,"vector":"1,2,3"}])",
         "Record at index 0: [json.exception.type_error.302] type must be array, but is string"},
        {"vector holds true", Op::encode, R"([{"id":"a","filter":1,"meta":1,"vector":[1,true,3]}])",
         "Record at index 0: [json.exception.type_error.302] type must be number, but is boolean"},
        {"vector holds null", Op::encode, R"([{"id":"a","filter":1,"meta":1,"vector":[1,null,3]}])",
         "Record at index 0: [json.exception.type_error.302] type must be number, but is null"},
        {"second vector too short", Op::encode, "[" OK_RECORD R"(,{"id":"b","filter":1,"meta":1,"vector":[1,2]}])",
         "Record at index 1: \"vector\" holds 2 numbers, the dimension is 3."},
        {"vector too long", Op::encode, R"([{"id":"a","filter":1,"meta":1,"vector":[1,2,3,4]}])",
         "Record at index 0: \"vector\" holds 4 numbers, the dimension is 3."},
        {"record 537 of 1000 without meta", Op::encode, kThousandNoMeta537.c_str(),
         "Record at index 537: [json.exception.out_of_range.403] key 'meta' not found"},

        // Records to decode, in the order of their reads.
        {"decode: bare string", Op::decode, R"("abc")", "Record at index 0: [json.exception.type_error.304] cannot use at() with string"},
        {"decode: no id", Op::decode, R"([{"filter":null,"meta":"$META","vector":[1,2,3]}])",
         "Record at index 0: [json.exception.out_of_range.403] key 'id' not found"},
        {"decode: numeric id", Op::decode, R"([{"id":7,"filter":null,"meta":"$META","vector":[1,2,3]}])",
         "Record at index 0: [json.exception.type_error.302] type must be string, but is number"},
        {"decode: no filter", Op::decode, R"([{"id":"a","meta":"$META","vector":[1,2,3]}])",
         "Record at index 0: [json.exception.out_of_range.403] key 'filter' not found"},
        {"decode: no meta", Op::decode, R"([{"id":"a","filter":null,"vector":[1,2,3]}])",
         "Record at index 0: [json.exception.out_of_range.403] key 'meta' not found"},
        {"decode: never sealed, meta read before vector", Op::decode,
         R"([{"id":"a","filter":null,"meta":{"x":1},"vector":"bad"}])",
         "Record at index 0: [json.exception.type_error.302] type must be string, but is object"},
        {"decode: no vector", Op::decode, R"([{"id":"a","filter":null,"meta":"$META"}])",
         "Record at index 0: [json.exception.out_of_range.403] key 'vector' not found"},
        {"decode: vector an object", Op::decode, R"([{"id":"a","filter":null,"meta":"$META","vector":{}}])",
         "Record at index 0: [json.exception.type_error.302] type must be array, but is object"},
        {"decode: vector holds true", Op::decode, R"([{"id":"a","filter":null,"meta":"$META","vector":[1,true,3]}])",
         "Record at index 0: [json.exception.type_error.302] type must be number, but is boolean"},
        {"decode: vector holds a string beside a null", Op::decode,
         R"([{"id":"a","filter":null,"meta":"$META","vector":[null,"2",3]}])",
         "Record at index 0: [json.exception.type_error.302] type must be number, but is string"},
        {"decode: second vector too short", Op::decode,
         "[" SEALED_RECORD R"(,{"id":"b","filter":null,"meta":"$META","vector":[1,2]}])",
         "Record at index 1: \"vector\" holds 2 numbers, the dimension is 3."},
        {"decode: unrecognised metric", Op::decode, "[" SEALED_RECORD "]", kBadMetric + "\"cosine\"" + kMetricNames, kKey,
         "cosine"},
        {"decode: metric reported before damaged meta", Op::decode,
         R"([{"id":"a","filter":null,"meta":"$DAMAGED","vector":[1,2,3]}])", kBadMetric + "\"L2 \"" + kMetricNames,
         kKey, "L2 "},
        {"decode: damaged meta", Op::decode, R"([{"id":"a","filter":null,"meta":"$DAMAGED","vector":[1,2,3]}])",
         "Record at index 0: Decryption failed."},
        {"decode: record 537 of 1000 with damaged meta", Op::decode, kThousandDamaged537.c_str(),
         "Record at index 537: Decryption failed."},
        {"decode: meta sealed under another key", Op::decode,
         "[" SEALED_RECORD R"(,{"id":"b","filter":null,"meta":"$FOREIGN_PADDING","vector":[1,2,3]}])",
         "Record at index 1: Decryption failed."},
        {"decode: meta sealed under another key, valid padding", Op::decode,
         "[" SEALED_RECORD R"(,{"id":"b","filter":null,"meta":"$FOREIGN_STREAM","vector":[1,2,3]}])",
         "Record at index 1: Decompression failed with error: -3"},
        {"decode: damaged meta, string in vector", Op::decode,
         R"([{"id":"a","filter":null,"meta":"$DAMAGED","vector":[1,"2",3]}])",
         "Record at index 0: [json.exception.type_error.302] type must be number, but is string"},
        {"decode: metadata not JSON", Op::decode, R"([{"id":"a","filter":null,"meta":"$NOTJSON","vector":[1,2,3]}])",
         "Record at index 0: " + kParse101 + "2: syntax error while parsing value - invalid literal; last read: 'no'"},
        {"decode: empty metadata", Op::decode, R"([{"id":"a","filter":null,"meta":"$EMPTY","vector":[1,2,3]}])",
         "Record at index 0: " + kParse101 + "1: " + kEndOfInput},
        {"decode: metadata nested too deep", Op::decode, "[" SEALED_RECORD R"(,{"id":"b","filter":null,"meta":"$DEEP","vector":[1,2,3]}])",
         "Record at index 1: The metadata" + kNested},
    };
    for (const Failure& f : failures) {
        expect_failure(f);
    }
}

// A failure that is no record's is never given a record's place: neither after
// a record failure at the codec object that no call reported, nor after one
// that a call reported.
TEST(RecordExports, ARecordIndexNamesOnlyItsOwnFailure) {
    const Pelmora::Pelmo codec(kKey, "L2", 1, 3);
    EXPECT_THROW(codec.encode(json::parse("[" OK_RECORD ",5]")), json::type_error);

    const Failure in_turn[] = {
        {"unrecognised metric", Op::decode, "[" SEALED_RECORD "]", kBadMetric + "\"cosine\"" + kMetricNames, kKey,
         "cosine"},
        {"record 2 without meta", Op::encode, "[" OK_RECORD "," OK_RECORD R"(,{"id":"c","filter":1,"vector":[1,2,3]}])",
         "Record at index 2: [json.exception.out_of_range.403] key 'meta' not found"},
        {"20-digit key", Op::encode, "[]", kKeySize20, kKey20},
        {"metadata not JSON", Op::decode, R"([{"id":"a","filter":null,"meta":"$NOTJSON","vector":[1,2,3]}])",
         "Record at index 0: " + kParse101 + "2: syntax error while parsing value - invalid literal; last read: 'no'"},
        {"the record set's text not JSON", Op::decode, "", kParse101 + "1: " + kEndOfInput},
        {"version 3", Op::encode, "[" OK_RECORD ",5]",
         "Invalid version number. The version given is 3; the versions are 1 and 2.", kKey, "COSINE", 3, 3, false,
         false, true, "Invalid version number"},
    };
    for (const Failure& f : in_turn) {
        expect_failure(f);
    }
}

}  // namespace
