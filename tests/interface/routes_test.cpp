// The one-pass route of the record-set calls against the document route, on
// tables of texts: it must give the document route's output byte for byte, or
// its failure, type and message, or decline a text that does not begin as an
// array. Each row also says which of the three it is meant to give, so a route
// that declined everything, or failed everything, would not pass.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "records/json.h"
#include "route_compare.h"

namespace {

using nlohmann::json;
using Pelmora::Pelmo;

const char* const kKey = "7e41c09b2d5fa38816cb0e4f9a27d563";
const char* const kMetrics[] = {"COSINE", "L2", "INNER_PRODUCT"};
constexpr int kDim = 3;
const double kQuery[kDim] = {0.5, -1.0, 2.0};

// What the one-pass route is meant to give for a row's text.
enum Gives { output, failure, declined };

struct Row {
    const char* name;
    std::string text;
    Gives gives;
};

void expect_agreement(const pel_routes::Comparison& c, Gives gives) {
    EXPECT_EQ("", c.fault);
    const Gives got = c.declined != nullptr ? declined : c.one_pass.ok ? output : failure;
    EXPECT_EQ(gives, got) << (c.document.ok ? c.document.text : c.document.failure);
}

// Wraps record texts in an array.
std::string set_of(std::initializer_list<std::string> records) {
    std::string text = "[";
    for (const std::string& r : records) text += (text.size() > 1 ? "," : "") + r;
    return text + "]";
}

std::string record(const std::string& vector, const std::string& id = R"("a")", const std::string& filter = "null",
                   const std::string& meta = R"({"m":1})") {
    return R"({"id":)" + id + R"(,"filter":)" + filter + R"(,"meta":)" + meta + R"(,"vector":)" + vector + "}";
}

const std::string kPlain = record("[1,2,3]");

// Records whose "filter" and "meta" are of every JSON kind, and one more.
std::string every_kind(const std::string& last) {
    return set_of({record("[1,2,3]", R"("a")", "null", "null"), record("[1,2,3]", R"("b")", "true", "false"),
                   record("[1,2,3]", R"("c")", "-1.5", "12345678901234567890"),
                   record("[1,2,3]", R"("d")", R"("s")", R"("s")"), record("[1,2,3]", R"("e")", "[]", "{}"),
                   record("[1,2,3]", R"("f")", R"([{"z":1,"a":[true,null]}])", "[[[]]]"), last});
}

std::vector<Row> encode_rows() {
    return {
        {"one plain record", set_of({kPlain}), output},
        {"empty array", "[]", output},
        {"empty array, blanks everywhere", " \t\r\n[ \n ] \n", output},
        {"byte order mark", "\xEF\xBB\xBF" + set_of({kPlain}), output},
        {"blanks around every token",
         " [ {\t\"vector\" : [ 1 ,\n2 , 3 ] ,\r\n \"meta\" : { \"m\" : [ 1 , null ] } , \"id\" : \"a\" ,"
         " \"filter\" : { \"b\" : 2 , \"a\" : 1 } } , " + kPlain + " ]\n",
         output},
        {"members in every order",
         set_of({R"({"vector":[1,2,3],"meta":1,"filter":2,"id":"a"})", R"({"filter":2,"vector":[3,2,1],"id":"b","meta":1})",
                 R"({"meta":null,"id":"c","vector":[0.5,1,1],"filter":[]})"}),
         output},
        {"extra members of every kind",
         set_of({R"({"x":{"a":[1,{"b":null}]},"id":"a","y":"s","filter":1,"z":[],"meta":2,"w":true,"vector":[1,2,3],"v":-1.5e3})"}),
         output},
        {"repeated members: the last counts",
         set_of({R"({"id":1,"filter":"first","meta":{"a":1},"vector":[1,2,3],"id":"b","filter":"last","meta":[2],"vector":[3,2,1]})"}),
         output},
        {"repeated member whose first is no JSON", set_of({R"({"filter":x,"id":"a","filter":null,"meta":null,"vector":[1,2,3]})"}),
         failure},
        {"repeated member whose first swallows others",
         set_of({R"({"filter":-fal"id":"5","id":"a","filter":null,"meta":null,"vector":[1,2,3]})"}), failure},
        {"byte order mark before a value", set_of({"{\"id\":\"a\",\"filter\":\xEF\xBB\xBFnull,\"meta\":1,\"vector\":[1,2,3]}"}),
         failure},
        {"byte order mark before a skipped value",
         set_of({"{\"x\":\xEF\xBB\xBF" "1,\"id\":\"a\",\"filter\":null,\"meta\":1,\"vector\":[1,2,3]}"}), failure},
        {"repeated vector whose first is refused", set_of({R"({"id":"a","filter":1,"meta":1,"vector":[true],"vector":[1,2,3]})"}),
         output},
        {"integers", set_of({record("[1,-2,3]"), record("[0,7,-9007199254740993]")}), output},
        {"exponents", set_of({record("[1e2,-1E-2,2.5e+3]"), record("[1E0,0e5,-0.0e-0]")}), output},
        {"long digits",
         set_of({record("[0.1000000000000000055511151231257827021181583404541015625,123456789012345678901234567890,3]"),
                 record("[1.00000000000000011102230246251565404236316680908203125,2.2250738585072011e-308,3]")}),
         output},
        {"negative zero integer and real", set_of({record("[-0,-0.0,1]")}), output},
        {"subnormals", set_of({record("[5e-324,2.4703282292062328e-324,1]")}), output},
        {"a number that rounds to zero", set_of({record("[1e-400,1,2]")}), output},
        {"a number beyond a double", set_of({record("[1E400,1,2]")}), failure},
        {"integers beyond 64 bits",
         set_of({record("[18446744073709551616,-9223372036854775809,9223372036854775807]"),
                 record("[18446744073709551615,-9223372036854775808,1]")}),
         output},
        {"escapes and non-ASCII in ids and filters",
         set_of({record("[1,2,3]", R"("caf\u00e9\n\"q\"\\\/\t")", R"({"ключ":"日本","e":"\ud83d\ude00"})"),
                 record("[1,2,3]", R"("日本語 №1")", R"("\u0000")"), record("[1,2,3]", "\"\x7f\"")}),
         output},
        {"filter and meta of every kind", every_kind(record("[1,2,3]", R"("g")", "1E2", "[1.0,2e0,-0]")), output},
        {"filter and meta of every kind, one beyond a double", every_kind(record("[1,2,3]", R"("g")", "1e400", "1")),
         failure},
        {"a set given as an object", R"({"k2":)" + kPlain + R"(,"k1":)" + kPlain + "}", declined},
        {"null", "null", declined},
        {"a bare record", kPlain, declined},
        {"a record that is no object", set_of({kPlain, "5"}), failure},
        {"no vector", set_of({R"({"id":"a","filter":1,"meta":1})"}), failure},
        {"id a number", set_of({record("[1,2,3]", "7")}), failure},
        {"vector too short", set_of({record("[1,2]")}), failure},
        {"vector too long", set_of({record("[1,2,3,4]")}), failure},
        {"vector holds null", set_of({record("[1,null,3]")}), failure},
        {"vector holds a string", set_of({record(R"([1,"2",3])")}), failure},
        {"a number JSON does not have", set_of({record("[1,+2,3]")}), failure},
        {"a leading zero", set_of({record("[1,02,3]")}), failure},
        {"a bare point", set_of({record("[1,2.,3]")}), failure},
        {"trailing text", set_of({kPlain}) + " x", failure},
        {"a second value", set_of({kPlain}) + "[]", failure},
        {"a comment", "/* c */" + set_of({kPlain}), declined},
        {"a trailing comma", "[" + kPlain + ",]", failure},
        {"invalid UTF-8 in an id", set_of({record("[1,2,3]", "\"\xC3\x28\"")}), failure},
        {"an invalid escape in a filter", set_of({record("[1,2,3]", R"("a")", R"("\x")")}), failure},
        {"a member name with an escape", set_of({R"({"\u0069d":"a","filter":1,"meta":1,"vector":[1,2,3]})"}), output},
        {"meta nested too deep", set_of({record("[1,2,3]", R"("a")", "null", std::string(999, '[') + std::string(999, ']'))}),
         failure},
        {"meta nested as deep as allowed",
         set_of({record("[1,2,3]", R"("a")", "null", std::string(998, '[') + std::string(998, ']'))}), output},
        // Records the route leaves to the JSON library whole, as deep as allowed.
        {"a record without \"filter\", its meta as deep as allowed",
         set_of({R"({"id":"a","vector":[1,2,3],"meta":)" + std::string(998, '[') + std::string(998, ']') + "}"}),
         failure},
        {"an escaped member name, meta as deep as allowed",
         set_of({R"({"\u0069d":"a","filter":1,"vector":[1,2,3],"meta":)" + std::string(998, '[') +
                 std::string(998, ']') + "}"}),
         output},
    };
}

TEST(Routes, EncodeAgreesWithTheDocumentRoute) {
    for (const Row& row : encode_rows()) {
        for (const int version : {1, 2}) {
            for (const char* metric : kMetrics) {
                SCOPED_TRACE(std::string(row.name) + ", " + metric + " v" + std::to_string(version));
                const Pelmo codec(kKey, metric, version, kDim);
                expect_agreement(pel_routes::compare_encode(codec, row.text), row.gives);
            }
        }
    }
}

// An encoded set as the library writes it, and its records as JSON values, for
// rewriting in other spellings.
struct Encoded {
    std::string text;
    json records;
};

Encoded encoded_set(const char* metric, int version) {
    const Pelmo codec(kKey, metric, version, kDim);
    const std::string input = set_of({record("[1,2,3]", R"("a")", R"({"k":[1,2]})"),
                                      record("[3,-1,2]", R"("b")", "null", R"("text")"),
                                      record("[0,0,0]", R"("zero")", "7", "null"),
                                      record("[0.25,4,-8]", R"("caf\u00e9")", R"({"ключ":true})", "[1,{\"x\":null}]")});
    char* out = Pelmora::encode_by_document(codec, input.c_str());
    Encoded e{out, json()};
    Pelmora::release_output_text(out);
    e.records = json::parse(e.text);
    return e;
}

// The records with their members written in reverse order, with blanks.
std::string reversed_members(const json& records) {
    std::string text = "[\n";
    for (std::size_t i = 0; i < records.size(); ++i) {
        const json& r = records[i];
        text += i > 0 ? " ,\n {" : " {";
        std::vector<std::string> members;
        for (const auto& item : r.items()) members.push_back("\"" + item.key() + "\" :\t" + item.value().dump(1));
        for (std::size_t k = members.size(); k-- > 0;) text += (k + 1 == members.size() ? " " : " , ") + members[k];
        text += " }";
    }
    return text + "\n]";
}

std::vector<Row> decode_rows(const Encoded& e) {
    json with_extra = e.records;
    json integers = e.records;
    json as_object = json::object();
    json repeated_text = e.records;
    for (std::size_t i = 0; i < e.records.size(); ++i) {
        with_extra[i]["similarity"] = 5;
        with_extra[i]["x"] = {{"y", {1, nullptr}}};
        integers[i]["vector"] = {1, -2, 3};
        as_object["k" + std::to_string(i)] = e.records[i];
    }
    std::string repeated = e.text;
    repeated.replace(1, 0, R"({"id":7,"id":"r","vector":[true],"vector":[-0,1,2],"filter":{},"meta":)" +
                               e.records[0]["meta"].dump() + "},");
    json damaged = e.records;
    damaged[1]["meta"] = damaged[1]["meta"].get<std::string>().substr(0, 30);
    json unsealed = e.records;
    unsealed[0]["meta"] = {{"m", 1}};
    json wrong_length = e.records;
    wrong_length[2]["vector"] = {1, 2};
    return {
        {"as encode wrote it", e.text, output},
        {"indented", e.records.dump(2), output},
        {"members reversed, blanks", reversed_members(e.records), output},
        {"extra members", with_extra.dump(), output},
        {"integer vectors", integers.dump(), output},
        {"a repeated member", repeated, output},
        {"a repeated meta whose first is no JSON", "[{\"meta\":[1,,2]," + repeated.substr(2), failure},
        {"byte order mark", "\xEF\xBB\xBF" + e.text, output},
        {"empty array", " [ ] ", output},
        {"a set given as an object", as_object.dump(), declined},
        {"null", "null", declined},
        {"damaged meta", damaged.dump(), failure},
        {"meta never sealed", unsealed.dump(), failure},
        {"a vector of another length", wrong_length.dump(), failure},
    };
}

TEST(Routes, DecodeAgreesWithTheDocumentRoute) {
    for (const int version : {1, 2}) {
        for (const char* metric : kMetrics) {
            const Encoded e = encoded_set(metric, version);
            ASSERT_NE(std::string::npos, e.text.find(R"("vector":[null,null,null])")) << e.text;
            for (const Row& row : decode_rows(e)) {
                SCOPED_TRACE(std::string(row.name) + ", " + metric + " v" + std::to_string(version));
                const Pelmo codec(kKey, metric, version, kDim);
                expect_agreement(pel_routes::compare_decode(codec, row.text, kQuery), row.gives);
            }
            // The call's faults, before any record.
            const Pelmo wrong_metric(kKey, "cosine", version, kDim);
            expect_agreement(pel_routes::compare_decode(wrong_metric, e.text, kQuery), failure);
            const Pelmo wrong_key("00112233445566778899aabbccddeeff", metric, version, kDim);
            expect_agreement(pel_routes::compare_decode(wrong_key, e.text, kQuery), failure);
            expect_agreement(pel_routes::compare_decode(Pelmo(kKey, metric, version, kDim), e.text, nullptr), failure);
        }
    }
}

// Every prefix of a text is JSON cut somewhere: inside a string, a number, a
// literal, a name, between tokens. Each fails as the document route fails on
// it, or is declined before its first bracket.
TEST(Routes, TextsCutAnywhereFailAsTheDocumentRouteFails) {
    const Encoded e = encoded_set("L2", 1);
    const std::string to_encode =
        "\xEF\xBB\xBF [ " + record("[1, -0.5e-3 ,3]", R"("caf\u00e9")", R"({"a":[true,false,null]})", R"("\"x\"")") +
        R"( , {"extra":{"n":-12},"id":"b","filter":null,"meta":1,"vector":[1E2,2,3]} ] )";
    const Pelmo codec(kKey, "L2", 1, kDim);
    for (std::size_t cut = 0; cut + 1 < to_encode.size(); ++cut) {
        SCOPED_TRACE("encode, cut at " + std::to_string(cut) + ": " + to_encode.substr(0, cut));
        const std::string text = to_encode.substr(0, cut);
        expect_agreement(pel_routes::compare_encode(codec, text), pel_routes::begins_as_array(text) ? failure : declined);
    }
    for (std::size_t cut = 0; cut + 1 < e.text.size(); ++cut) {
        SCOPED_TRACE("decode, cut at " + std::to_string(cut));
        const std::string text = e.text.substr(0, cut);
        expect_agreement(pel_routes::compare_decode(codec, text, kQuery), pel_routes::begins_as_array(text) ? failure : declined);
    }
    // The whole texts are read.
    expect_agreement(pel_routes::compare_encode(codec, to_encode), output);
    expect_agreement(pel_routes::compare_decode(codec, e.text, kQuery), output);
}

// A call works each record once, whatever it meets: a record's failure, even
// in the last record, is reported without the document route running, a
// record the one-pass route does not read itself is read by the JSON library
// in its place, and a text that turns out not to parse stops the work where
// it shows. Counted, not timed.
TEST(Routes, EveryRecordIsWorkedOnce) {
    constexpr int kCount = 500;
    const Pelmo codec(kKey, "L2", 1, kDim);
    auto many = [&](const std::string& good, const std::string& last, const std::string& after = "") {
        std::string text = "[";
        for (int i = 0; i + 1 < kCount; ++i) text += good + ",";
        return text + last + "]" + after;
    };
    std::string sealed_set;
    {
        const std::string plain = many(kPlain, kPlain);
        sealed_set = pel_routes::taken(Pelmora::encode_records(codec, plain.c_str()));
    }
    const std::string sealed = sealed_set.substr(1, sealed_set.find("},{"));  // the first record
    auto damaged = [&](std::string record) {
        const std::size_t colon = record.find(':', record.find("\"meta\":\"") + 8);
        return record.replace(colon + 1, 4, "AAAA");  // the first block of the ciphertext changed
    };
    auto escaped = [](std::string record) { return record.replace(record.find("\"id\""), 4, "\"\\u0069d\""); };

    struct Case {
        const char* name;
        bool decode;
        std::string text;
        std::string failure;  // empty: the call succeeds
        unsigned long long worked;
        unsigned long long document_runs;
    };
    const Case cases[] = {
        {"encode: the last vector one number short", false, many(kPlain, record("[1,2]")),
         "Record at index 499: \"vector\" holds 2 numbers, the dimension is 3.", kCount, 0},
        {"decode: the last meta damaged", true, many(sealed, damaged(sealed)), "Record at index 499: ", kCount, 0},
        {"encode: the last name escaped", false, many(kPlain, escaped(kPlain)), "", kCount, 0},
        {"decode: the last name escaped", true, many(sealed, escaped(sealed)), "", kCount, 0},
        {"encode: the last record no object", false, many(kPlain, "7"),
         "Record at index 499: [json.exception.type_error.304] cannot use at() with number", kCount, 0},
        {"encode: a number beyond a double in the last record", false, many(kPlain, record("[1,2,1e400]")),
         "Error parsing JSON data: [json.exception.out_of_range.406] number overflow parsing '1e400'", kCount - 1, 0},
        {"encode: the first record fails, the text ends in more text", false,
         many(R"({"id":"a","filter":1,"vector":[1,2,3]})", kPlain, " x"), "Error parsing JSON data: ", 1, 0},
        {"encode: a set given as an object", false, R"({"a":)" + kPlain + R"(,"b":)" + kPlain + "}", "", 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Pelmora::RouteCounts before = Pelmora::route_counts();
        std::string failure;
        try {
            pel_routes::taken(c.decode ? Pelmora::decode_records(codec, c.text.c_str(), kQuery)
                                       : Pelmora::encode_records(codec, c.text.c_str()));
        } catch (const std::exception& e) {
            failure = e.what();
        }
        const Pelmora::RouteCounts after = Pelmora::route_counts();
        if (c.failure.empty()) {
            EXPECT_EQ("", failure);
        } else {
            EXPECT_EQ(0u, failure.rfind(c.failure, 0)) << failure;
        }
        EXPECT_EQ(c.worked, after.records_worked - before.records_worked);
        EXPECT_EQ(c.document_runs, after.document_runs - before.document_runs);
    }
}

}  // namespace
