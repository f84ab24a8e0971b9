// The one-pass route of the record-set calls against the document route, on
// tables of texts: where the one-pass route takes a text it must give the
// document route's output byte for byte, and it must decline every text the
// document route fails on. Each row also says whether the one-pass route is
// meant to take it, so a route that declined everything would not pass.
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

struct Row {
    const char* name;
    std::string text;
    bool taken;  // the one-pass route is meant to take it
};

void expect_agreement(const pel_routes::Comparison& c, bool taken) {
    EXPECT_EQ("", c.fault);
    EXPECT_EQ(taken, c.one_pass.has_value()) << (c.document.ok ? c.document.text : c.document.failure);
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
        {"one plain record", set_of({kPlain}), true},
        {"empty array", "[]", true},
        {"empty array, blanks everywhere", " \t\r\n[ \n ] \n", true},
        {"byte order mark", "\xEF\xBB\xBF" + set_of({kPlain}), true},
        {"blanks around every token",
         " [ {\t\"vector\" : [ 1 ,\n2 , 3 ] ,\r\n \"meta\" : { \"m\" : [ 1 , null ] } , \"id\" : \"a\" ,"
         " \"filter\" : { \"b\" : 2 , \"a\" : 1 } } , " + kPlain + " ]\n",
         true},
        {"members in every order",
         set_of({R"({"vector":[1,2,3],"meta":1,"filter":2,"id":"a"})", R"({"filter":2,"vector":[3,2,1],"id":"b","meta":1})",
                 R"({"meta":null,"id":"c","vector":[0.5,1,1],"filter":[]})"}),
         true},
        {"extra members of every kind",
         set_of({R"({"x":{"a":[1,{"b":null}]},"id":"a","y":"s","filter":1,"z":[],"meta":2,"w":true,"vector":[1,2,3],"v":-1.5e3})"}),
         true},
        {"repeated members: the last counts",
         set_of({R"({"id":1,"filter":"first","meta":{"a":1},"vector":[1,2,3],"id":"b","filter":"last","meta":[2],"vector":[3,2,1]})"}),
         true},
        {"repeated member whose first is no JSON", set_of({R"({"filter":x,"id":"a","filter":null,"meta":null,"vector":[1,2,3]})"}),
         false},
        {"repeated member whose first swallows others",
         set_of({R"({"filter":-fal"id":"5","id":"a","filter":null,"meta":null,"vector":[1,2,3]})"}), false},
        {"byte order mark before a value", set_of({"{\"id\":\"a\",\"filter\":\xEF\xBB\xBFnull,\"meta\":1,\"vector\":[1,2,3]}"}),
         false},
        {"byte order mark before a skipped value",
         set_of({"{\"x\":\xEF\xBB\xBF" "1,\"id\":\"a\",\"filter\":null,\"meta\":1,\"vector\":[1,2,3]}"}), false},
        {"repeated vector whose first is refused", set_of({R"({"id":"a","filter":1,"meta":1,"vector":[true],"vector":[1,2,3]})"}),
         false},
        {"integers", set_of({record("[1,-2,3]"), record("[0,7,-9007199254740993]")}), true},
        {"exponents", set_of({record("[1e2,-1E-2,2.5e+3]"), record("[1E0,0e5,-0.0e-0]")}), true},
        {"long digits",
         set_of({record("[0.1000000000000000055511151231257827021181583404541015625,123456789012345678901234567890,3]"),
                 record("[1.00000000000000011102230246251565404236316680908203125,2.2250738585072011e-308,3]")}),
         true},
        {"negative zero integer and real", set_of({record("[-0,-0.0,1]")}), true},
        {"subnormals", set_of({record("[5e-324,2.4703282292062328e-324,1]")}), true},
        {"a number that rounds to zero", set_of({record("[1e-400,1,2]")}), false},
        {"a number beyond a double", set_of({record("[1E400,1,2]")}), false},
        {"integers beyond 64 bits",
         set_of({record("[18446744073709551616,-9223372036854775809,9223372036854775807]"),
                 record("[18446744073709551615,-9223372036854775808,1]")}),
         true},
        {"escapes and non-ASCII in ids and filters",
         set_of({record("[1,2,3]", R"("caf\u00e9\n\"q\"\\\/\t")", R"({"ключ":"日本","e":"\ud83d\ude00"})"),
                 record("[1,2,3]", R"("日本語 №1")", R"("\u0000")"), record("[1,2,3]", "\"\x7f\"")}),
         true},
        {"filter and meta of every kind", every_kind(record("[1,2,3]", R"("g")", "1E2", "[1.0,2e0,-0]")), true},
        {"filter and meta of every kind, one beyond a double", every_kind(record("[1,2,3]", R"("g")", "1e400", "1")),
         false},
        {"a set given as an object", R"({"k2":)" + kPlain + R"(,"k1":)" + kPlain + "}", false},
        {"null", "null", false},
        {"a bare record", kPlain, false},
        {"a record that is no object", set_of({kPlain, "5"}), false},
        {"no vector", set_of({R"({"id":"a","filter":1,"meta":1})"}), false},
        {"id a number", set_of({record("[1,2,3]", "7")}), false},
        {"vector too short", set_of({record("[1,2]")}), false},
        {"vector too long", set_of({record("[1,2,3,4]")}), false},
        {"vector holds null", set_of({record("[1,null,3]")}), false},
        {"vector holds a string", set_of({record(R"([1,"2",3])")}), false},
        {"a number JSON does not have", set_of({record("[1,+2,3]")}), false},
        {"a leading zero", set_of({record("[1,02,3]")}), false},
        {"a bare point", set_of({record("[1,2.,3]")}), false},
        {"trailing text", set_of({kPlain}) + " x", false},
        {"a second value", set_of({kPlain}) + "[]", false},
        {"a comment", "/* c */" + set_of({kPlain}), false},
        {"a trailing comma", "[" + kPlain + ",]", false},
        {"invalid UTF-8 in an id", set_of({record("[1,2,3]", "\"\xC3\x28\"")}), false},
        {"an invalid escape in a filter", set_of({record("[1,2,3]", R"("a")", R"("\x")")}), false},
        {"a member name with an escape", set_of({R"({"\u0069d":"a","filter":1,"meta":1,"vector":[1,2,3]})"}), false},
        {"meta nested too deep", set_of({record("[1,2,3]", R"("a")", "null", std::string(999, '[') + std::string(999, ']'))}),
         false},
        {"meta nested as deep as allowed",
         set_of({record("[1,2,3]", R"("a")", "null", std::string(998, '[') + std::string(998, ']'))}), true},
    };
}

TEST(Routes, EncodeAgreesWithTheDocumentRoute) {
    for (const Row& row : encode_rows()) {
        for (const int version : {1, 2}) {
            for (const char* metric : kMetrics) {
                SCOPED_TRACE(std::string(row.name) + ", " + metric + " v" + std::to_string(version));
                testing::internal::CaptureStderr();
                const Pelmo codec(kKey, metric, version, kDim);
                expect_agreement(pel_routes::compare_encode(codec, row.text), row.taken);
                testing::internal::GetCapturedStderr();
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
        {"as encode wrote it", e.text, true},
        {"indented", e.records.dump(2), true},
        {"members reversed, blanks", reversed_members(e.records), true},
        {"extra members", with_extra.dump(), true},
        {"integer vectors", integers.dump(), true},
        {"a repeated member", repeated, false},
        {"a repeated meta whose first is no JSON", "[{\"meta\":[1,,2]," + repeated.substr(2), false},
        {"byte order mark", "\xEF\xBB\xBF" + e.text, true},
        {"empty array", " [ ] ", true},
        {"a set given as an object", as_object.dump(), false},
        {"null", "null", false},
        {"damaged meta", damaged.dump(), false},
        {"meta never sealed", unsealed.dump(), false},
        {"a vector of another length", wrong_length.dump(), false},
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
                expect_agreement(pel_routes::compare_decode(codec, row.text, kQuery), row.taken);
            }
            // The call's faults, before any record.
            const Pelmo wrong_metric(kKey, "cosine", version, kDim);
            expect_agreement(pel_routes::compare_decode(wrong_metric, e.text, kQuery), false);
            const Pelmo wrong_key("00112233445566778899aabbccddeeff", metric, version, kDim);
            expect_agreement(pel_routes::compare_decode(wrong_key, e.text, kQuery), false);
            expect_agreement(pel_routes::compare_decode(Pelmo(kKey, metric, version, kDim), e.text, nullptr), false);
        }
    }
}

// Every prefix of a text is JSON cut somewhere: inside a string, a number, a
// literal, a name, between tokens. None may be taken.
TEST(Routes, TextsCutAnywhereAreDeclined) {
    const Encoded e = encoded_set("L2", 1);
    const std::string to_encode =
        "\xEF\xBB\xBF [ " + record("[1, -0.5e-3 ,3]", R"("caf\u00e9")", R"({"a":[true,false,null]})", R"("\"x\"")") +
        R"( , {"extra":{"n":-12},"id":"b","filter":null,"meta":1,"vector":[1E2,2,3]} ] )";
    const Pelmo codec(kKey, "L2", 1, kDim);
    for (std::size_t cut = 0; cut + 1 < to_encode.size(); ++cut) {
        SCOPED_TRACE("encode, cut at " + std::to_string(cut) + ": " + to_encode.substr(0, cut));
        testing::internal::CaptureStderr();
        expect_agreement(pel_routes::compare_encode(codec, to_encode.substr(0, cut)), false);
        testing::internal::GetCapturedStderr();
    }
    for (std::size_t cut = 0; cut + 1 < e.text.size(); ++cut) {
        SCOPED_TRACE("decode, cut at " + std::to_string(cut));
        expect_agreement(pel_routes::compare_decode(codec, e.text.substr(0, cut), kQuery), false);
    }
    // The whole texts are taken.
    testing::internal::CaptureStderr();
    expect_agreement(pel_routes::compare_encode(codec, to_encode), true);
    testing::internal::GetCapturedStderr();
    expect_agreement(pel_routes::compare_decode(codec, e.text, kQuery), true);
}

}  // namespace
