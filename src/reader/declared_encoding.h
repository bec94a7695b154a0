// Documents whose XML declaration names an encoding that the XML parser does not decode itself.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace annoxml::detail {

// The encoding named by the declaration at the very start of `document` when the document has to
// be transcoded before parsing. Empty for UTF-8, UTF-16, UTF-32, ISO-8859-1 and ASCII, which the
// parser handles, for documents without a declaration, and for documents that begin with a byte
// order mark or with anything but "<?xml" in single-byte characters.
std::optional<std::string> EncodingToTranscode(std::string_view document);

// Whether the parser, guessing the encoding, reads `document` as UTF-8: no UTF-16 or UTF-32
// byte order mark or start, and no ISO-8859-1 declaration.
bool ParserReadsAsUtf8(std::string_view document);

// Whether the parser reads `document` as the UTF-8 text it is: nothing to transcode, no byte order
// mark or declaration of another encoding, and no NUL byte, which would end the text early.
bool ParserReadsAsItIs(std::string_view document);

// The UTF-8 form of `text`. Throws the loading error "unsupported encoding NAME" when the system
// cannot convert from `encoding`, and one naming the offset when `text` is not valid in it.
std::string TranscodeToUtf8(const std::string& encoding, std::string_view text);

}  // namespace annoxml::detail
