// Writes the seed corpora of the fuzz targets into <dir>/<target>/.
//
//   pel_fuzz_seeds fuzz/corpus
//
// The seeds are committed; run this again only when an input layout changes.
// Encoded record sets and sealed texts come from the library itself, so they
// carry fresh IVs each time.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "pel_arm64.h"
#include "sealing/aes_cbc.h"

namespace fs = std::filesystem;
using namespace pel_fuzz;

namespace {

fs::path root;

void write(const std::string& target, const std::string& name, const std::string& bytes) {
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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: " << argv[0] << " <corpus dir>\n";
        return 2;
    }
    root = argv[1];
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
    std::cout << "seeds written to " << root << "\n";
    return 0;
}
