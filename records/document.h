// JSON values that can be let go when memory has run out.
//
// The JSON library destroys a non-empty array or object by first reserving a
// vector as long as it, to flatten it, inside its noexcept destructor (and
// inside its noexcept assignment, which destroys the old value). When that
// reservation fails the process ends. So every array and object this library
// builds lives in a Document, which empties it from the bottom up before it
// goes: an empty container, and a scalar, are freed without allocating. Copies
// and parses are made into a Document too, so that a failure half-way leaves
// what was built to it.
#pragma once

#include <string_view>
#include <utility>

#include "records/json.h"

namespace Pelmora {

// Empties `value` from the bottom up: afterwards it is a scalar or an empty
// container, and the rest is freed. Allocates nothing. Recurses once per level
// of nesting, which every text the library parses has bounded.
void release(nlohmann::json& value) noexcept;

class Document {
public:
    Document() = default;
    explicit Document(nlohmann::json&& value) noexcept : value_(std::move(value)) {}
    Document(Document&& other) noexcept : value_(std::move(other.value_)) {}
    Document& operator=(Document&& other) noexcept {
        release(value_);
        value_.swap(other.value_);
        return *this;
    }
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;
    ~Document() { release(value_); }

    nlohmann::json& operator*() noexcept { return value_; }
    const nlohmann::json& operator*() const noexcept { return value_; }
    nlohmann::json* operator->() noexcept { return &value_; }
    const nlohmann::json* operator->() const noexcept { return &value_; }

    // The value, moved out; this object is left holding null.
    nlohmann::json take() noexcept { return std::move(value_); }

private:
    nlohmann::json value_;
};

// nlohmann::json::parse(text): the whole text one JSON value, comments not
// accepted, the library's own exceptions for a text that is not JSON.
Document parse_document(std::string_view text);

// A deep copy of `value`.
Document copy_of(const nlohmann::json& value);

// Sets `slot`, which must hold no container, to an array of `count` JSON
// reals, `at(i)` the i-th, built in place.
template <class At>
void put_reals(nlohmann::json& slot, std::size_t count, At&& at) {
    slot = nlohmann::json::array();
    auto& array = slot.get_ref<nlohmann::json::array_t&>();
    array.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        array.emplace_back(static_cast<double>(at(i)));
    }
}

}  // namespace Pelmora
