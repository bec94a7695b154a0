#pragma once

namespace annoxml::detail {

// Equality of two element names, inline: names are short and most differ in the first letters,
// where a library call would cost more than the comparison.
inline bool SameName(const char* actual, const char* name) {
    while (*actual == *name && *name != '\0') {
        ++actual;
        ++name;
    }
    return *actual == *name;
}

}  // namespace annoxml::detail
