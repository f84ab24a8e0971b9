#include <gtest/gtest.h>

#include <pthread.h>

#include <functional>
#include <string>

#include "record_calls.h"
#include "records/json.h"
#include "sealing/aes_cbc.h"

namespace {

using pel_test::call_decode;
using pel_test::call_encode;
using pel_test::Outcome;

const char* const kKey = "7e41c09b2d5fa38816cb0e4f9a27d563";
const std::string kTooDeep = " is nested deeper than 1000 levels of arrays and objects.";
constexpr std::size_t kSmallStack = 512 * 1024;
constexpr std::size_t kVeryDeep = 100000;

std::string nested(std::size_t depth, const std::string& inside = "") {
    return std::string(depth, '[') + inside + std::string(depth, ']');
}

std::string record_with_meta(const std::string& meta_text) {
    return R"([{"id":"a","filter":null,"meta":)" + meta_text + R"(,"vector":[1,2,3]}])";
}

// Runs `body` on a thread with a small stack, where recursing once per level of
// a deeply nested value would overflow. last_error_message() is per thread, so
// the outcome is read there too.
Outcome on_small_stack(const std::function<Outcome()>& body) {
    struct Job {
        const std::function<Outcome()>* body;
        Outcome outcome;
    } job{&body, {}};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    EXPECT_EQ(0, pthread_attr_setstacksize(&attr, kSmallStack));
    pthread_t thread;
    const int created = pthread_create(
        &thread, &attr,
        [](void* arg) -> void* {
            Job* j = static_cast<Job*>(arg);
            j->outcome = (*j->body)();
            return nullptr;
        },
        &job);
    pthread_attr_destroy(&attr);
    EXPECT_EQ(0, created);
    if (created == 0) pthread_join(thread, nullptr);
    return job.outcome;
}

TEST(Nesting, DeepTextIsRefusedOnASmallStack) {
    Pelmora::AES_CBC cipher(kKey);
    const std::string deep = nested(kVeryDeep);
    const std::string deep_meta = record_with_meta(deep);
    const std::string sealed_deep =
        R"([{"id":"a","filter":null,"meta":")" + cipher.encrypt(deep) + R"(","vector":[0.1,0.2,0.3]}])";
    const double query[3] = {1, 2, 3};

    struct Case {
        const char* name;
        std::function<Outcome()> call;
        std::string message;
    };
    const Case cases[] = {
        {"encode: deep record set", [&] { return call_encode(kKey, "L2", 1, 3, deep.c_str()); },
         "The record set" + kTooDeep},
        {"encode: deep meta", [&] { return call_encode(kKey, "L2", 1, 3, deep_meta.c_str()); },
         "The record set" + kTooDeep},
        {"decode: deep record set", [&] { return call_decode(kKey, "L2", 1, 3, query, deep.c_str()); },
         "The record set" + kTooDeep},
        {"decode: sealed meta opens to deep text",
         [&] { return call_decode(kKey, "L2", 1, 3, query, sealed_deep.c_str()); },
         "Record at index 0: The metadata" + kTooDeep},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::internal::CaptureStderr();
        const Outcome o = on_small_stack(c.call);
        testing::internal::GetCapturedStderr();
        EXPECT_FALSE(o.stored);
        EXPECT_TRUE(o.failed);
        EXPECT_EQ(c.message, o.error);
    }
}

TEST(Nesting, BracketsInsideStringsDoNotCount) {
    const std::string brackets(kVeryDeep, '[');
    const std::string text = R"([{"id":")" + brackets + R"(","filter":"{\"[","meta":")" + brackets +
                             R"(\\","vector":[1,2,3]}])";
    const Outcome o = on_small_stack([&] { return call_encode(kKey, "L2", 1, 3, text.c_str()); });
    ASSERT_FALSE(o.failed) << o.error;
    const nlohmann::json encoded = nlohmann::json::parse(o.text);
    EXPECT_EQ(brackets, encoded[0]["id"]);
    EXPECT_EQ("{\"[", encoded[0]["filter"]);
}

// The record set's own array and record object are two of the 1000 levels.
TEST(Nesting, ExactlyTheBoundIsAccepted) {
    const double query[3] = {1, 2, 3};
    const Outcome at_bound = call_encode(kKey, "L2", 1, 3, record_with_meta(nested(998, "7")).c_str());
    ASSERT_FALSE(at_bound.failed) << at_bound.error;
    const Outcome opened = call_decode(kKey, "L2", 1, 3, query, at_bound.text.c_str());
    ASSERT_FALSE(opened.failed) << opened.error;
    EXPECT_EQ(nlohmann::json::parse(nested(998, "7")), nlohmann::json::parse(opened.text)[0]["meta"]);

    testing::internal::CaptureStderr();
    const Outcome beyond = call_encode(kKey, "L2", 1, 3, record_with_meta(nested(999, "7")).c_str());
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(beyond.failed);
    EXPECT_EQ("The record set" + kTooDeep, beyond.error);
}

}  // namespace
