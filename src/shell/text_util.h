#ifndef SENTREL_SHELL_TEXT_UTIL_H_
#define SENTREL_SHELL_TEXT_UTIL_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/paths.h"

namespace sentrel {

// The path up to and including its last separator; empty without one.
// Paths are never cut: a long path is a valid path here.
std::string DirectoryOf(std::string_view path);

// The part of the path after its last separator; the whole path without one.
std::string FileNameOf(std::string_view path);

// DirectoryOf(path) followed directly by `name`.
std::string SiblingPath(std::string_view path, std::string_view name);

// Copies from `source` (the text just after an opening double quote) up to
// the next double quote or the end. A backslash is dropped and the character
// after it copied as it is, even a quote; a final lone backslash ends the
// copy. Returns the number of source characters consumed, including the
// closing quote if there was one.
size_t UnquoteArgument(std::string_view source, std::string& out);

// Replaces every `from` in `text` by `to`.
void ReplaceChar(std::string& text, char from, char to);

// `text` with `path` in place of its first "%s"; every other "%" is written
// as it stands, so no language file can make the text a format.
std::string InsertPath(const std::string& text, const std::string& path);

// Equality ignoring the case of the ASCII letters only.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Whether `text` begins with `prefix`, ignoring ASCII case.
bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix);

// `text` as a shell takes it back, always on one line: as it stands when it
// holds none of `special` and no control character, in single quotes when
// it holds one of `special` or is empty, and as $'...' with escapes when it
// holds a control character (a line feed in a file name), so that one line
// of output never becomes two.
std::string ShellQuoted(std::string_view text, std::string_view special);
// What a name shown in a line of the program's needs quoting for.
inline constexpr std::string_view kBlankOrQuote = " \t'\"";

// The local date and time now in ISO 8601 with milliseconds
// ("2024-05-01T14:03:07.412"): how a line says when it was written.
std::string LocalTimestamp();

}  // namespace sentrel

#endif  // SENTREL_SHELL_TEXT_UTIL_H_
