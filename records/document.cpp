#include "records/document.h"

namespace Pelmora {

void release(nlohmann::json& value) noexcept {
    if (value.is_array()) {
        auto& array = *value.get_ptr<nlohmann::json::array_t*>();
        for (nlohmann::json& element : array) {
            release(element);
        }
        array.clear();
    } else if (value.is_object()) {
        auto& object = *value.get_ptr<nlohmann::json::object_t*>();
        for (auto& member : object) {
            release(member.second);
        }
        object.clear();
    }
}

Document parse_document(std::string_view text) {
    // What nlohmann::json::parse does, but into a value that is released
    // whole if the parse fails half-way, by a syntax error or for memory.
    auto input = nlohmann::detail::input_adapter(text);
    Document document;
    nlohmann::detail::parser<nlohmann::json, decltype(input)>(std::move(input)).parse(true, *document);
    return document;
}

namespace {

// Builds into `to`, which holds null, so that every step leaves a whole value
// that its Document can release.
void copy_into(const nlohmann::json& from, nlohmann::json& to) {
    if (from.is_array()) {
        to = nlohmann::json::array();
        auto& array = *to.get_ptr<nlohmann::json::array_t*>();
        array.reserve(from.size());
        for (const nlohmann::json& element : from) {
            copy_into(element, array.emplace_back());
        }
    } else if (from.is_object()) {
        to = nlohmann::json::object();
        auto& object = *to.get_ptr<nlohmann::json::object_t*>();
        for (const auto& member : *from.get_ptr<const nlohmann::json::object_t*>()) {
            copy_into(member.second, object.emplace_hint(object.end(), member.first, nullptr)->second);
        }
    } else {
        to = from;
    }
}

}  // namespace

Document copy_of(const nlohmann::json& value) {
    Document copy;
    copy_into(value, *copy);
    return copy;
}

}  // namespace Pelmora
