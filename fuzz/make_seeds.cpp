// Writes the seed corpora of the fuzz targets into <dir>/<target>/.
//
//   pel_fuzz_seeds fuzz/corpus [target...]
//
// The seeds are committed; run this again only when an input layout changes,
// naming the targets whose seeds are to be written (all when none is named).
// Encoded record sets and sealed texts come from the library itself, so they
// carry fresh IVs each time.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/routes_call.h"
#include "pel_arm64.h"
#include "records/json.h"
#include "sealing/aes_cbc.h"

namespace fs = std::filesystem;
using namespace pel_fuzz;

namespace {

fs::path root;
std::set<std::string> only;  // the targets to write; all when empty

void write(const std::string& target, const std::string& name, const std::string& bytes) {
    if (!only.empty() && only.count(target) == 0) return;
    const fs::path dir = root / target;
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary) << bytes;
}

std::string doubles(const std::vector<double>& v) {
    std::string s(v.size() * sizeof(double), '\0');
    if (!v.empty()) std::memcpy(&s[0], v.data(), s.size());
    return s;
}

std::string encoded(const char* key, const char* space, int version, int dim, const std::string& records) {
    char* out = nullptr;
    encode(key, space, version, dim, records.c_str(), &out);
    if (last_error_message() != nullptr) {
        std::cerr << "seed does not encode: " << last_error_message() << "\n" << records << "\n";
        std::exit(1);
    }
    std::string text = out;
    free_output_buffer(out);
    return text;
}

// Record sets of dimension 2, 3, 4 and 8 with every kind of "filter" and "meta".
struct RecordSet {
    const char* name;
    int dim;
    std::string text;
};

const RecordSet kSets[] = {
    {"empty", 2, "[]"},
    {"null", 3, "null"},
    {"one", 2, R"([{"id":"a","filter":null,"meta":null,"vector":[1.5,-2]}])"},
    {"kinds", 3,
     R"([{"id":"r1","filter":{"lang":"en","n":3},"meta":{"title":"x","tags":["a","b"],"n":1.5},"vector":[1,2,3]},)"
     R"({"id":"r2","filter":[true,false,null],"meta":"plain","vector":[0.5,-1.25,2.0]},)"
     R"({"id":"r2","filter":7,"meta":[1,2,{"k":"v"}],"vector":[-3e10,1e-300,4]},)"
     R"({"id":"café","filter":"日本","meta":{"deep":{"er":[[{}]]}},"vector":[0,0,1],"extra":1}])"},
    {"object", 4,
     R"({"b":{"id":"x","filter":1,"meta":2,"vector":[1,2,3,4]},"a":{"id":"y","filter":"f","meta":"m","vector":[4,3,2,1]}})"},
    {"wide", 8, R"([{"id":"w","filter":{},"meta":{"u":"\u0000\n\"\\"},"vector":[1,-1,2,-2,3,-3,4,-4]}])"},
};

const RecordSet kBadSets[] = {
    {"missing_id", 2, R"([{"filter":null,"meta":null,"vector":[1,2]}])"},
    {"id_number", 2, R"([{"id":1,"filter":null,"meta":null,"vector":[1,2]}])"},
    {"short_vector", 3, R"([{"id":"a","filter":null,"meta":null,"vector":[1,2]}])"},
    {"bool_vector", 2, R"([{"id":"a","filter":null,"meta":null,"vector":[true,2]}])"},
    {"zero_vector", 2, R"([{"id":"a","filter":null,"meta":null,"vector":[0,0]}])"},
    {"bare_number", 2, "42"},
    {"trailing", 2, "[] x"},
    {"deep", 2, std::string(1001, '[')},
};

// routes: texts in the shapes the one-pass route reads itself, in those whose
// records it has the JSON library read, in those it leaves to the document
// route, and texts that fail. Each is an encode seed; each that encodes, sealed
// under the first routes key, is a decode seed as well, in several spellings.
const RecordSet kRoutesSets[] = {
    {"basic", 3, R"([{"id":"a","filter":null,"meta":null,"vector":[1.5,-2,3]}])"},
    {"orders", 3,
     R"([{"vector":[1,2,3],"meta":{"x":1},"filter":[1,2],"id":"b"},)"
     R"({"filter":"f","vector":[3,2,1],"id":"c","meta":"m"},{"meta":7,"id":"d","vector":[0.5,0,1],"filter":{}}])"},
    {"extra_repeated", 3,
     R"([{"id":"x","extra":{"k":[1,null,{"z":"]}"}]},"id":"a","filter":1,"filter":2,"meta":true,)"
     R"("vector":[true],"vector":[1,2,3],"more":"}","last":[[]]}])"},
    {"repeated", 3,
     R"([{"id":"x","skip":[{"a":"[","b":{"c":[1e5,null,true]}}],"vector":[9,9,9],"id":"a","filter":{"f":1},)"
     R"("meta":"first","filter":[],"meta":{"m":[0]},"vector":[1,2,3],"more":"}"}])"},
    {"spaces", 3,
     " \t\r\n[ \t\r\n{ \n\"id\" \t: \r\"a\" \n, \"filter\"\t:\n[ 1 ,\t{ \"k\" : null } ] ,\r\n\"meta\" :\t{ } ,"
     " \"vector\" : [ 1 ,\n2\t, 3 ] } \r, {\"id\":\"b\",\"filter\":null,\"meta\":null,\"vector\":[4,5,6]\n}\t] \n\r\t"},
    {"bom", 2, "\xEF\xBB\xBF[{\"id\":\"a\",\"filter\":null,\"meta\":\"m\",\"vector\":[1,2]}]"},
    {"bom_spaced", 2, "\xEF\xBB\xBF \n[ ]"},
    {"numbers", 4,
     R"([{"id":"n","filter":1e2,"meta":[1.0,-2.50,3E+1,12345678901234567890],)"
     R"("vector":[12345678901234567890123456789,1e2,-2.5E-3,0.1000000000000000055511151231257827021181583404541015625]}])"},
    {"minus_zero", 3, R"([{"id":"z","filter":-0,"meta":[-0.0,-0e3,-0],"vector":[-0,1,-0.0]}])"},
    {"tiny", 3, R"([{"id":"t","filter":1e-400,"meta":4.9e-324,"vector":[1e-400,1,2.5e-324]}])"},
    {"huge", 3, R"([{"id":"h","filter":1E400,"meta":null,"vector":[1E400,1,2]}])"},
    {"huge_meta", 3, R"([{"id":"h","filter":null,"meta":-1e400,"vector":[1.7976931348623157e308,1,2]}])"},
    {"beyond_2_64", 3,
     R"([{"id":"i","filter":18446744073709551616,"meta":-9223372036854775809,)"
     R"("vector":[18446744073709551616,-18446744073709551617,18446744073709551615]}])"},
    {"escapes", 2, R"([{"id":"a\"b\\c\/d\b\f\n\r\t\u0000\u00e9\ud834\udd1e","filter":"\u0041","meta":"\"","vector":[1,2]}])"},
    {"non_ascii", 2, "[{\"id\":\"caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x8E\x89\",\"filter\":\"\xC3\xBC\",\"meta\":{\"\xC3\xA9\":1},\"vector\":[1,2]}]"},
    {"bad_utf8", 2, "[{\"id\":\"\xFF\xC3\",\"filter\":null,\"meta\":null,\"vector\":[1,2]}]"},
    {"lone_surrogate", 2, R"([{"id":"\ud800","filter":null,"meta":null,"vector":[1,2]}])"},
    {"escaped_name", 2, R"([{"\u0069d":"a","filter":null,"meta":null,"vector":[1,2]}])"},
    {"kinds", 2,
     R"([{"id":"0","filter":null,"meta":true,"vector":[1,2]},{"id":"1","filter":false,"meta":0,"vector":[1,2]},)"
     R"({"id":"2","filter":-7,"meta":2.5,"vector":[1,2]},{"id":"3","filter":"s","meta":[],"vector":[1,2]},)"
     R"({"id":"4","filter":{},"meta":[1,[2,{"a":null}]],"vector":[1,2]},)"
     R"({"id":"5","filter":{"b":{"c":[true]},"a":1,"b":2},"meta":{"z":"","a":{}},"vector":[1,2]},)"
     R"({"id":"6","filter":1.0,"meta":"text","vector":[1,2]}])"},
    {"object", 2,
     R"({"b":{"id":"x","filter":1,"meta":2,"vector":[1,2]},"a":{"id":"y","filter":"f","meta":"m","vector":[2,1]}})"},
    {"null", 2, "null"},
    {"empty", 2, " [ ] "},
    {"not_records", 2, R"([1,{},null,[]])"},
    {"missing_meta", 2, R"([{"id":"a","filter":null,"vector":[1,2]}])"},
    {"id_number", 2, R"([{"id":1,"filter":null,"meta":null,"vector":[1,2]}])"},
    {"short_vector", 3, R"([{"id":"a","filter":null,"meta":null,"vector":[1,2]}])"},
    {"long_vector", 2, R"([{"id":"a","filter":null,"meta":null,"vector":[1,2,3]}])"},
    {"null_vector", 2, R"([{"id":"a","filter":null,"meta":null,"vector":[null,2]}])"},
    {"bad_numbers", 3, R"([{"id":"a","filter":null,"meta":null,"vector":[01,.5,+1,1.,1e,-]}])"},
    {"trailing_comma", 2, R"([{"id":"a","filter":null,"meta":null,"vector":[1,2],},])"},
    {"trailing_text", 2, R"([{"id":"a","filter":null,"meta":null,"vector":[1,2]}] x)"},
    {"zero_vector", 2, R"([{"id":"a","filter":null,"meta":null,"vector":[0,-0]}])"},
};

std::optional<std::string> encoded_by(const RoutesCall& call, const std::string& records) {
    char* out = nullptr;
    encode(kRoutesKeys[call.key_index], kRoutesSpaces[call.space_index], call.version, call.dim, records.c_str(), &out);
    if (last_error_message() != nullptr) return std::nullopt;
    std::string text = out;
    free_output_buffer(out);
    return text;
}

// A number spelled with printf's `format`; null for NaN and the infinities.
std::string spelled(const nlohmann::json& x, const char* format) {
    if (!x.is_number()) return x.dump();
    char buffer[80];
    std::snprintf(buffer, sizeof buffer, format, x.get<double>());
    return buffer;
}

// An encoded set written again: each record's members in reverse order behind
// a skipped member and a "meta" and "id" that a later one replaces, its
// vector's numbers spelled with `format`.
std::string rewritten(const nlohmann::json& set, const char* format) {
    std::string s = "[";
    for (const nlohmann::json& r : set) {
        if (s.size() > 1) s += ',';
        s += R"({"skip":{"a":[1,"]",{}]},"meta":"QUJD","id":0,"vector":[)";
        for (std::size_t i = 0; i < r.at("vector").size(); ++i) s += (i ? "," : "") + spelled(r["vector"][i], format);
        s += "],\"meta\":" + r.at("meta").dump() + ",\"id\":" + r.at("id").dump() + ",\"filter\":" + r.at("filter").dump() + "}";
    }
    return s + "]";
}

// The same set with `first` as the first number of each vector.
std::string with_first_number(nlohmann::json set, const std::string& first) {
    static const std::string kMarker = "424242424242";
    for (nlohmann::json& r : set) r.at("vector")[0] = 424242424242;
    std::string s = set.dump();
    for (std::size_t at; (at = s.find(kMarker)) != std::string::npos;) s.replace(at, kMarker.size(), first);
    return s;
}

// Blanks after every bracket, brace, comma and colon outside strings.
std::string spaced(const std::string& text) {
    std::string s = " \t\r\n";
    bool in_string = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        s += c;
        if (in_string) {
            if (c == '\\') s += text[++i];
            else if (c == '"') in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (std::strchr("[]{},:", c) != nullptr) {
            s += i % 2 ? " \n" : "\t\r ";
        }
    }
    return s;
}

std::string as_object(const nlohmann::json& set) {
    nlohmann::json object = nlohmann::json::object();
    for (std::size_t i = 0; i < set.size(); ++i) object["r" + std::to_string(set.size() - i)] = set[i];
    return object.dump();
}

// The encode seed of `text`, and the decode seed of its encoding when it encodes.
void write_routes_pair(const std::string& name, RoutesCall call, const std::string& text) {
    write("routes", "enc_" + name, routes_call_header(call) + text);
    const std::optional<std::string> enc = encoded_by(call, text);
    if (!enc) return;
    call.decode = true;
    write("routes", "dec_" + name, routes_call_header(call) + *enc);
}

void write_routes_seeds() {
    const auto call_of = [](bool decode, int version, int space, int key, int dim) {
        return RoutesCall{decode, version, space, key, dim};
    };
    for (const RecordSet& set : kRoutesSets) write_routes_pair(set.name, call_of(false, 1, 0, 0, set.dim), set.text);
    // Other arguments on a few sets, the encoding under each of them decoded.
    const RoutesCall others[] = {call_of(false, 2, 1, 0, 3), call_of(false, 1, 2, 2, 3), call_of(false, 2, 0, 0, 6),
                                 call_of(false, 1, 1, 0, 5), call_of(false, 2, 2, 2, 1)};
    for (const RoutesCall& call : others) {
        std::string values;
        for (int i = 0; i < call.dim; ++i) values += (i ? "," : "") + std::to_string(i * 3 - 4) + ".25";
        const std::string text = R"([{"id":"o","filter":{"n":2},"meta":{"t":"x"},"vector":[)" + values +
                                 R"(]},{"id":"p","filter":[],"meta":"q","vector":[)" + values + "]}]";
        const std::string tag = "v" + std::to_string(call.version) + "_" + kRoutesSpaces[call.space_index] + "_k" +
                                std::to_string(call.key_index) + "_d" + std::to_string(call.dim);
        write_routes_pair(tag, call, text);
    }
    // The metric name the codec refuses, and the 20-digit key, which the cipher refuses.
    write("routes", "enc_bad_metric", routes_call_header(call_of(false, 1, 3, 0, 3)) + kRoutesSets[0].text);
    write("routes", "enc_short_key", routes_call_header(call_of(false, 1, 0, 3, 3)) + kRoutesSets[0].text);
    write("routes", "enc_deep_meta_998",
          routes_call_header(call_of(false, 1, 0, 0, 2)) + R"([{"id":"d","filter":null,"vector":[1,2],"meta":)" +
              std::string(998, '[') + std::string(998, ']') + "}]");
    write("routes", "enc_deep_filter_999",
          routes_call_header(call_of(false, 1, 0, 0, 2)) + R"([{"id":"d","meta":null,"vector":[1,2],"filter":)" +
              std::string(999, '[') + std::string(999, ']') + "}]");

    // Decode: one encoded set spelled every way the routes must agree on.
    const RoutesCall encode_call = call_of(false, 1, 0, 0, 3);
    const std::string base = kRoutesSets[1].text;  // "orders": three records
    const std::string enc = *encoded_by(encode_call, base);
    const nlohmann::json set = nlohmann::json::parse(enc);
    const std::string head = routes_call_header(call_of(true, 1, 0, 0, 3));
    write("routes", "dec_spaced", head + spaced(enc));
    write("routes", "dec_bom", head + "\xEF\xBB\xBF" + enc);
    write("routes", "dec_reordered", head + rewritten(set, "%.17g"));
    write("routes", "dec_exponents", head + rewritten(set, "%.16e"));
    write("routes", "dec_long_digits", head + rewritten(set, "%.60g"));
    write("routes", "dec_upper_key", routes_call_header(call_of(true, 1, 0, 1, 3)) + enc);
    write("routes", "dec_other_key", routes_call_header(call_of(true, 1, 0, 2, 3)) + enc);
    write("routes", "dec_bad_metric", routes_call_header(call_of(true, 1, 3, 0, 3)) + enc);
    write("routes", "dec_dim_1", routes_call_header(call_of(true, 1, 0, 0, 1)) + R"([{"id":"a","filter":null,"meta":null,"vector":[1]}])");
    write("routes", "dec_object", head + as_object(set));
    const char* const firsts[] = {"null", "-0", "1e-400", "1E400", "18446744073709551616", "7", "-2E+2", "true"};
    for (const char* first : firsts) write("routes", std::string("dec_first_") + first, head + with_first_number(set, first));
    for (const std::size_t cut : {enc.size() / 3, enc.size() / 2, enc.size() - 2, enc.size() - 1}) {
        write("routes", "dec_cut_" + std::to_string(cut), head + enc.substr(0, cut));
    }
    // A "meta" that is no sealed text, and one whose sealed text is damaged.
    nlohmann::json damaged = set;
    damaged[0]["meta"] = "plain";
    std::string sealed = set[1]["meta"].get<std::string>();
    sealed[30] = sealed[30] == 'A' ? 'B' : 'A';
    damaged[1]["meta"] = sealed;
    write("routes", "dec_damaged_meta", head + damaged.dump());
    for (const std::size_t cut : {base.size() / 4, base.size() / 2, base.size() - 1}) {
        write("routes", "enc_cut_" + std::to_string(cut), routes_call_header(encode_call) + base.substr(0, cut));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: " << argv[0] << " <corpus dir> [target...]\n";
        return 2;
    }
    root = argv[1];
    only.insert(argv + 2, argv + argc);
    std::mt19937_64 random(20240611);
    std::uniform_real_distribution<double> uniform(-4.0, 4.0);

    // encode and decode: every set under a few argument combinations.
    struct Combo {
        int key, space, version;
    };
    const Combo combos[] = {{0, 0, 0}, {1, 1, 1}, {2, 2, 0}, {4, 1, 1}};
    int n = 0;
    for (const RecordSet& set : kSets) {
        for (const Combo& c : combos) {
            const std::string tag = std::string(set.name) + "_" + std::to_string(n++);
            write("encode", tag, record_call_header(c.key, c.space, c.version, set.dim) + set.text);
            const std::string enc =
                encoded(kRecordKeys[c.key], kSpaces[c.space], kVersions[c.version], set.dim, set.text);
            std::vector<double> query(static_cast<std::size_t>(set.dim));
            for (double& x : query) x = uniform(random);
            write("decode", tag, record_call_header(c.key, c.space, c.version, set.dim) + doubles(query) + enc);
        }
    }
    for (const RecordSet& set : kBadSets) {
        write("encode", set.name, record_call_header(0, 1, 0, set.dim) + set.text);
        write("decode", set.name, record_call_header(0, 1, 0, set.dim) + doubles({1, 2}) + set.text);
    }
    // Sealed under the first key, opened under the 48-digit one: wrong key.
    write("decode", "wrong_key",
          record_call_header(1, 0, 0, 3) + doubles({1, 2, 3}) + encoded(kRecordKeys[0], "COSINE", 1, 3, kSets[3].text));

    // decode_vector: encodings made by encode_vector, and plain data.
    const int dims[] = {0, 1, 2, 3, 5, 16, 64};
    for (const int dim : dims) {
        for (int version_index = 0; version_index < 2; ++version_index) {
            std::vector<double> v(static_cast<std::size_t>(dim));
            for (double& x : v) x = uniform(random);
            std::vector<double> e = v;
            double none = 0;  // dim 0: a valid pointer to no doubles
            const std::string key = kRecordKeys[dim % 3];
            encode_vector(key.c_str(), "COSINE", kVersions[version_index], dim, dim ? v.data() : &none,
                          dim ? e.data() : &none);
            std::string head(3, '\0');
            head[0] = static_cast<char>(0 | version_index << 2);
            head[1] = static_cast<char>(dim);
            head[2] = static_cast<char>(key.size());
            const std::string tag = std::to_string(dim) + "_v" + std::to_string(kVersions[version_index]);
            write("decode_vector", "encoded_" + tag, head + key + doubles(e));
            write("decode_vector", "plain_" + tag, head + key + doubles(v));
        }
    }

    // Sealed texts of metadata dumps under each of the three cipher keys.
    const char* const metas[] = {"null", "\"plain\"", R"({"title":"x","tags":["a","b"],"n":1.5})", "",
                                 "0123456789abcdef0123456789abcdef"};
    for (int k = 0; k < 3; ++k) {
        Pelmora::AES_CBC cipher(kRecordKeys[k]);
        for (std::size_t m = 0; m < sizeof metas / sizeof *metas; ++m) {
            const std::string sealed = cipher.encrypt(metas[m]);
            const std::string head(1, static_cast<char>(k));
            const std::string tag = std::to_string(k) + "_" + std::to_string(m);
            write("sealed_open", "sealed_" + tag, head + sealed);
            write("base64_decode", "sealed_" + tag, sealed.substr(25));
        }
    }
    write("sealed_open", "no_separator", std::string(1, '\0') + "QUJD");
    write("sealed_open", "short_iv", std::string(1, '\0') + "QUJD:QUJDRA==");

    const char* const texts[] = {"", "Q", "QQ==", "QUI=", "QUJD", "QUJDRA==", "+/8=", "QUJD=QUJD", "QUJD!RA==", "QUJDRA"};
    for (std::size_t i = 0; i < sizeof texts / sizeof *texts; ++i) write("base64_decode", "text_" + std::to_string(i), texts[i]);

    // Keys for the hex decoder and the key-field parse.
    const char* const keys[] = {"", "00ff", "-1", "g1", "1g", " f", "0x1f", "+f-f"};
    for (int k = 0; k < 8; ++k) write("hex_decode", "record_key_" + std::to_string(k), kRecordKeys[k]);
    for (std::size_t k = 0; k < sizeof keys / sizeof *keys; ++k) write("hex_decode", "pair_" + std::to_string(k), keys[k]);
    for (int field = 0; field < 5; ++field) {
        for (int k = 0; k < 8; ++k) {
            write("key_field", "field" + std::to_string(field) + "_key" + std::to_string(k),
                  std::string(1, static_cast<char>(field)) + kRecordKeys[k]);
        }
    }
    write("key_field", "sign", std::string(1, '\0') + "-fff0000");
    write("key_field", "prefix", std::string(1, '\1') + "00000x1f");

    // earlier_encode: small dimensions and panel boundaries (0x80 + an
    // index), under a key and with entries of the input's own, on vectors of
    // every kind the sums go wrong on.
    const double inf = std::numeric_limits<double>::infinity();
    const double tiny = std::numeric_limits<double>::denorm_min();
    const std::vector<std::pair<const char*, std::vector<double>>> vectors = {
        {"uniform", {0.25, -0.75, 0.5, 0.125, -0.375, 0.875, -0.0625}},
        {"signed_zeros", {-0.0, 0.0, 3 * tiny, -tiny, 0x1p-1060, 0.5}},
        {"huge", {0x1p1023, -0x1.8p1022, 0x1p1000, -0x1p1023}},
        {"any_exponent", {0x1p-1000, 0x1p900, -0x1p-20, 0x1p40}},
        {"not_finite", {1.0, std::nan(""), -inf, 2.0}},
    };
    const std::vector<double> band = {1.5, -0.25, 0.0, 0x1p-1030, -3.0, 0x1p900, 0.75, -0.0};
    const std::pair<int, int> earlier_dims[] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {5, 5}, {16, 16}, {17, 17},
                                                {127, 127}, {128, 0x81}, {129, 0x82}, {144, 0x84}};
    for (const auto& [dim, byte] : earlier_dims) {
        for (const auto& [kind, values] : vectors) {
            for (const bool own : {false, true}) {
                std::string seed = {static_cast<char>(byte), static_cast<char>(own), static_cast<char>(values.size() - 1)};
                seed += doubles(values) + "9f3e77a1c05b2d68" + (own ? doubles(band) : "");
                write("earlier_encode", std::string(own ? "band_" : "key_") + kind + "_" + std::to_string(dim), seed);
            }
        }
    }
    write("earlier_encode", "bad_noise_field", std::string("\x05\x00\x00") + doubles({1.0}) + "zzzz77a1c05b2d68");
    write("earlier_encode", "short_key", std::string("\x05\x00\x00") + doubles({1.0}) + "9f3e77a1c05");
    write_routes_seeds();
    std::cout << "seeds written to " << root << "\n";
    return 0;
}
