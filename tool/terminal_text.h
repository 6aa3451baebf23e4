// Text the tool prints on a terminal. File names may hold any byte but '/'
// and NUL, and an escape sequence or a newline in one must not reach the
// terminal as it is.
#pragma once

#include <string>

namespace thumbnail {

// `text` with each control character (C0, DEL, and C1 as UTF-8 writes it)
// shown as \xNN, and each backslash doubled so that the escapes read back.
std::string Printable(const std::string& text);

// `text` cut to at most `columns` characters by dropping its start behind
// "...", so that the end of a long file name stays in view. Counts UTF-8
// characters, and never cuts one in two.
std::string KeepEnd(const std::string& text, size_t columns);

}  // namespace thumbnail
