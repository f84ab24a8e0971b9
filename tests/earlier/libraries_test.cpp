// The built shared libraries as a host sees them: loaded with dlopen, side by
// side in one process.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "vectors.h"

namespace {

// Both headers declare encode and decode with different parameters, so the
// signatures are spelled out here instead of included.
using EarlierTransform = void (*)(const char*, const double*, int, double*);
using Arm64Transform = void (*)(const char*, const char*, int, int, const double*, double*);
using ErrorMessage = const char* (*)();

const char* const kKey = "9f3e77a1c05b2d68";
constexpr double kJunk = -12345.678;
constexpr std::uint64_t kSeed = 77001;

// Fused and separately rounded encodings of one vector differ by a few units
// in the last place (observed below 3e-16 of the norm up to dimension 64).
constexpr double kLastBitsTolerance = 1e-14;
// From dimension 3 on the two interfaces disagree by whole percents (observed
// at least 6e-3 of the norm); anything above this is not rounding.
constexpr double kMismatch = 1e-4;

void* open_library(const char* path) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) ADD_FAILURE() << dlerror();
    return handle;
}

template <class Function>
Function lookup(void* handle, const char* name) {
    if (handle == nullptr) return nullptr;
    void* address = dlsym(handle, name);
    if (address == nullptr) ADD_FAILURE() << "missing " << name;
    return reinterpret_cast<Function>(address);
}

struct Earlier {
    const char* name;
    EarlierTransform encode;
    EarlierTransform decode;
    ErrorMessage last_error;

    static Earlier load(const char* name, const char* path) {
        void* handle = open_library(path);
        return {name, lookup<EarlierTransform>(handle, "encode"), lookup<EarlierTransform>(handle, "decode"),
                lookup<ErrorMessage>(handle, "last_error_message")};
    }
    bool loaded() const { return encode && decode && last_error; }

    std::vector<double> run(EarlierTransform f, const std::vector<double>& input) const {
        std::vector<double> output(input.size(), kJunk);
        f(kKey, input.data(), static_cast<int>(input.size()), output.data());
        EXPECT_EQ(nullptr, last_error()) << name << ": " << last_error();
        return output;
    }
};

struct Arm64 {
    Arm64Transform encode_vector;
    Arm64Transform decode_vector;

    static Arm64 load() {
        void* handle = open_library(PEL_ARM64_PATH);
        return {lookup<Arm64Transform>(handle, "encode_vector"), lookup<Arm64Transform>(handle, "decode_vector")};
    }
    bool loaded() const { return encode_vector && decode_vector; }

    // Profile 1 under "COSINE": the only profile of libpel_arm64 that is the
    // earlier codec's.
    std::vector<double> run(Arm64Transform f, const std::vector<double>& input) const {
        std::vector<double> output(input.size(), kJunk);
        f(kKey, "COSINE", 1, static_cast<int>(input.size()), input.data(), output.data());
        return output;
    }
};

std::vector<Earlier> earlier_libraries() {
    return {Earlier::load("pellib", PEL_PELLIB_PATH), Earlier::load("libpel_linux", PEL_LINUX_PATH)};
}

TEST(EarlierLibraries, VariantsAgreeUpToLastBitsAndDecodeEachOther) {
    const std::vector<Earlier> libs = earlier_libraries();
    const Earlier& fused = libs[0];
    const Earlier& unfused = libs[1];
    ASSERT_TRUE(fused.loaded() && unfused.loaded());
    for (const int dim : {1, 2, 3, 6, 17, 64}) {
        SCOPED_TRACE("dim " + std::to_string(dim) + ", seed " + std::to_string(kSeed + dim));
        const std::vector<double> input = pel_test::sample_vector(kSeed + dim, dim);
        const std::vector<double> a = fused.run(fused.encode, input);
        const std::vector<double> b = unfused.run(unfused.encode, input);
        EXPECT_LE(pel_test::relative_distance(a, b), kLastBitsTolerance);
        EXPECT_LE(pel_test::relative_distance(input, unfused.run(unfused.decode, a)), pel_test::kRoundTripTolerance);
        EXPECT_LE(pel_test::relative_distance(input, fused.run(fused.decode, b)), pel_test::kRoundTripTolerance);
    }
}

// Seed 0 for the rotations: the third angle is the draw whose last bit depends
// on the rounding, so identical results would mean one library's code ran for
// both.
TEST(EarlierLibraries, LoadedTogetherEachKeepsItsOwnRounding) {
    const std::vector<Earlier> libs = earlier_libraries();
    ASSERT_TRUE(libs[0].loaded() && libs[1].loaded());
    const char* const key = "9f3e77a1c05b0000";
    const std::vector<double> input = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6};
    std::vector<double> a(6), b(6);
    libs[0].encode(key, input.data(), 6, a.data());
    libs[1].encode(key, input.data(), 6, b.data());
    EXPECT_NE(a, b);
    EXPECT_LE(pel_test::relative_distance(a, b), kLastBitsTolerance);
}

TEST(EarlierLibraries, InterchangeableWithArm64OnlyUpToDimensionTwo) {
    const Arm64 arm64 = Arm64::load();
    ASSERT_TRUE(arm64.loaded());
    for (const Earlier& lib : earlier_libraries()) {
        ASSERT_TRUE(lib.loaded());
        for (int dim = 1; dim <= 8; ++dim) {
            SCOPED_TRACE(std::string(lib.name) + " dim " + std::to_string(dim) + ", seed " +
                         std::to_string(kSeed + dim));
            const std::vector<double> input = pel_test::sample_vector(kSeed + dim, dim);
            const std::vector<double> earlier = lib.run(lib.encode, input);
            const std::vector<double> theirs = arm64.run(arm64.encode_vector, input);
            const std::vector<double> earlier_opens_theirs = lib.run(lib.decode, theirs);
            if (dim <= 2) {
                EXPECT_LE(pel_test::relative_distance(earlier, theirs), kLastBitsTolerance);
                EXPECT_LE(pel_test::relative_distance(input, earlier_opens_theirs), pel_test::kRoundTripTolerance);
            } else {
                EXPECT_GT(pel_test::relative_distance(earlier, theirs), kMismatch);
                EXPECT_GT(pel_test::relative_distance(input, earlier_opens_theirs), kMismatch);
            }
            // libpel_arm64 decodes from dimension 2 on only.
            if (dim >= 2) {
                const std::vector<double> theirs_opens_earlier = arm64.run(arm64.decode_vector, earlier);
                if (dim == 2) {
                    EXPECT_LE(pel_test::relative_distance(input, theirs_opens_earlier),
                              pel_test::kRoundTripTolerance);
                } else {
                    EXPECT_GT(pel_test::relative_distance(input, theirs_opens_earlier), kMismatch);
                }
            }
        }
    }
}

}  // namespace
