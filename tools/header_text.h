// A tune header's text as the tools print it. The texts are raw bytes, taken as Latin-1 (as the
// tunes' texts are, which maps one-to-one onto U+0000-U+00FF), written as UTF-8 for a terminal.
// Control characters (below 32, 127, and Latin-1's 128-159) are written as \u00XX, as JSON writes
// them: a tune file cannot send escape sequences to the user's terminal.
#pragma once

#include <cstdint>
#include <string>

namespace sidtune {

std::string printableHeaderText(const char* text);
// A file name as the tools print it: valid UTF-8 as it is, control characters as \u00XX, and bytes
// that are no UTF-8 as \xNN.
std::string printableName(const std::string& name);
// The same without escaping, for the JSON writer (which escapes itself).
std::string latin1ToUtf8(const char* text);

}  // namespace sidtune
