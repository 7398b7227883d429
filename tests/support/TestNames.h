#pragma once
// Names for the rows of parameterised tests, made from their descriptions.

#include <cctype>
#include <string>

namespace corvane::test {

// "disc full, Cancel" becomes "disc_full_Cancel": letters and digits kept, the rest joined by
// single underscores, as GoogleTest requires.
inline std::string TestNameOf(const std::string& description) {
    std::string name;
    for (char c : description) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            name += c;
        } else if (!name.empty() && name.back() != '_') {
            name += '_';
        }
    }
    while (!name.empty() && name.back() == '_') name.pop_back();
    return name;
}

}  // namespace corvane::test
