#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "interface/guard.h"
#include "record_calls.h"
#include "records/json.h"

namespace {

using Pelmora::boundary::bounded_message;
using Pelmora::boundary::kMaxMessageBytes;
using pel_test::call_decode;
using pel_test::call_encode;
using pel_test::Outcome;

const char* const kKey = "7e41c09b2d5fa38816cb0e4f9a27d563";

bool valid_utf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        }
        i += length;
    }
    return true;
}

// What every cut message keeps of the whole.
void expect_cut_from(const std::string& whole, const std::string& cut) {
    EXPECT_LE(cut.size(), kMaxMessageBytes);
    EXPECT_EQ(0u, cut.rfind(whole.substr(0, 64), 0)) << cut.substr(0, 100);
    EXPECT_EQ(whole.substr(whole.size() - 8), cut.substr(cut.size() - 8));
    EXPECT_NE(std::string::npos, cut.find("the whole message is " + std::to_string(whole.size()) + " bytes"))
        << cut.substr(0, 200);
}

TEST(LongMessages, AreCutInTheMiddleOnCharacterBoundaries) {
    EXPECT_EQ(std::string(kMaxMessageBytes, 'a'), bounded_message(std::string(kMaxMessageBytes, 'a')));
    expect_cut_from(std::string(kMaxMessageBytes + 1, 'a'), bounded_message(std::string(kMaxMessageBytes + 1, 'a')));

    // Characters of 2, 3 and 4 bytes, shifted so that each cut would fall in
    // the middle of one at some shift.
    for (const std::string character : {"é", "€", "😀"}) {
        for (std::size_t shift = 0; shift < 4; ++shift) {
            SCOPED_TRACE(character + " shifted by " + std::to_string(shift));
            std::string whole = "Reason: '" + std::string(shift, 'x');
            while (whole.size() < 3 * kMaxMessageBytes) whole += character;
            whole += std::string(shift, 'y') + "'";
            const std::string cut = bounded_message(whole);
            expect_cut_from(whole, cut);
            EXPECT_TRUE(valid_utf8(cut));
        }
    }
}

// A number of a million digits overflows a double: the parser quotes all of
// it. The host is given the start and the end, the same text on stderr.
TEST(LongMessages, AParseErrorQuotingAMillionDigitsIsCut) {
    const std::string digits(1000000, '1');
    const std::string records = R"([{"id":"a","filter":null,"meta":1,"vector":[)" + digits + ",2,3]}]";
    std::string parser_says;
    try {
        const nlohmann::json parsed = nlohmann::json::parse(records);
        ADD_FAILURE() << "parsed: " << parsed.size();
    } catch (const nlohmann::json::exception& e) {
        parser_says = e.what();
    }
    ASSERT_GT(parser_says.size(), digits.size());

    const double query[3] = {1, 2, 3};
    for (const bool decode : {false, true}) {
        SCOPED_TRACE(decode ? "decode" : "encode");
        testing::internal::CaptureStderr();
        const Outcome o = decode ? call_decode(kKey, "L2", 1, 3, query, records.c_str())
                                 : call_encode(kKey, "L2", 1, 3, records.c_str());
        const std::string err = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(o.failed);
        EXPECT_FALSE(o.stored);
        expect_cut_from(decode ? parser_says : "Error parsing JSON data: " + parser_says, o.error);
        EXPECT_EQ((decode ? "decode: " : "") + o.error + "\n", err);
    }
}

TEST(LongMessages, AQuotedMetricNameIsCut) {
    const std::string name(100000, 'M');
    testing::internal::CaptureStderr();
    const Outcome o = call_encode(kKey, name.c_str(), 1, 3, "[]");
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(o.failed);
    EXPECT_LE(o.error.size(), kMaxMessageBytes);
    EXPECT_EQ(0u, o.error.rfind("Invalid similarity metric. The metric name given is \"MMMM", 0));
    const std::string names = "MMMM\"; the names are \"COSINE\", \"L2\" and \"INNER_PRODUCT\".";
    EXPECT_EQ(names, o.error.substr(o.error.size() - names.size()));
    EXPECT_EQ("encode: " + o.error + "\n", err);
}

// The matrix of this dimension, its inverse and the noise vector would take
// tens of GB; a set without records needs none of them, nor the query.
TEST(EmptyRecordSets, CostNothingThatGrowsWithTheDimension) {
    const double query[16] = {};
    for (const int version : {1, 2}) {
        for (const char* records : {"[]", "null", "{}"}) {
            SCOPED_TRACE(std::string(records) + " v" + std::to_string(version));
            const Outcome enc = call_encode(kKey, "COSINE", version, INT_MAX, records);
            EXPECT_FALSE(enc.failed) << enc.error;
            EXPECT_EQ("[]", enc.text);
            const Outcome dec = call_decode(kKey, "L2", version, INT_MAX, query, records);
            EXPECT_FALSE(dec.failed) << dec.error;
            EXPECT_EQ("[]", dec.text);
        }
    }
}

}  // namespace
