#include "records/records.h"

#include <stdexcept>
#include <string>

namespace Pelmora {

void require_json_depth(std::string_view text, std::string_view what) {
    std::size_t depth = 0;
    bool in_string = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (in_string) {
            if (c == '\\') {
                ++i;  // the escaped character cannot end the string
            } else if (c == '"') {
                in_string = false;
            }
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxJsonDepth) {
                throw std::invalid_argument(std::string(what) + " is nested deeper than " +
                                            std::to_string(kMaxJsonDepth) + " levels of arrays and objects.");
            }
        } else if ((c == ']' || c == '}') && depth > 0) {
            // Unbalanced closers are the parser's to report.
            --depth;
        }
    }
}

}  // namespace Pelmora
