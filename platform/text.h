// Small text helpers shared by every component, independent of the process locale: trimming,
// ASCII-only letter case, comparison ignoring case, and counting and cutting UTF-8 text by
// characters (code points) instead of bytes.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The text without characters up to and including the space (control characters) at either end.
std::string TrimText(std::string_view text);

// ASCII letters folded to lower case; every other byte (UTF-8 included) unchanged.
char LowerAscii(char c);
std::string LowerAscii(std::string text);

// Equal when the texts differ at most in the letter case of ASCII letters.
bool SameTextAscii(std::string_view a, std::string_view b);

// The number of characters (UTF-8 code points) in a text.
size_t CharacterCount(std::string_view text);
// The first n characters of a UTF-8 text; all of it when it has no more than n.
std::string FirstCharacters(std::string_view text, size_t n);
// The longest beginning of a UTF-8 text that ends on a character boundary and has at most
// maxBytes bytes (a file name cut to fit a length limit never ends in half a character).
std::string FirstBytes(std::string_view text, size_t maxBytes);

}  // namespace platform
