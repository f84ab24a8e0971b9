#include "library.h"

#include <dlfcn.h>

#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace pel_bench {
namespace {

void* open_library(const std::string& path) {
    // RTLD_NOW: a missing dependency shows up here rather than in the middle
    // of a timed loop.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        throw std::runtime_error("cannot load " + path + ": " + (reason != nullptr ? reason : "unknown reason"));
    }
    return handle;
}

template <class Fn>
Fn find(void* handle, const std::string& path, const char* name) {
    dlerror();
    void* symbol = dlsym(handle, name);
    if (symbol == nullptr) {
        throw std::runtime_error(path + " does not export " + name);
    }
    return reinterpret_cast<Fn>(symbol);
}

std::mutex& cache_mutex() {
    static std::mutex m;
    return m;
}

}  // namespace

const Arm64& load_arm64(const std::string& path) {
    std::lock_guard<std::mutex> lock(cache_mutex());
    static std::map<std::string, std::unique_ptr<Arm64>> cache;
    auto& slot = cache[path];
    if (!slot) {
        void* handle = open_library(path);
        auto api = std::make_unique<Arm64>();
        api->encode_vector = find<VectorFn>(handle, path, "encode_vector");
        api->decode_vector = find<VectorFn>(handle, path, "decode_vector");
        api->encode = find<EncodeRecordsFn>(handle, path, "encode");
        api->decode = find<DecodeRecordsFn>(handle, path, "decode");
        api->free_output_buffer = find<FreeBufferFn>(handle, path, "free_output_buffer");
        api->last_error_message = find<LastErrorFn>(handle, path, "last_error_message");
        slot = std::move(api);
    }
    return *slot;
}

const Earlier& load_earlier(const std::string& path) {
    std::lock_guard<std::mutex> lock(cache_mutex());
    static std::map<std::string, std::unique_ptr<Earlier>> cache;
    auto& slot = cache[path];
    if (!slot) {
        void* handle = open_library(path);
        auto api = std::make_unique<Earlier>();
        api->encode = find<EarlierVectorFn>(handle, path, "encode");
        api->decode = find<EarlierVectorFn>(handle, path, "decode");
        api->last_error_message = find<LastErrorFn>(handle, path, "last_error_message");
        slot = std::move(api);
    }
    return *slot;
}

}  // namespace pel_bench
