// Byte-wise text helpers shared by every module.
#pragma once

#include <cstdarg>
#include <string>
#include <vector>

namespace str {

// printf-style formatting into `out`, replacing its contents; no length limit.
std::string& format(std::string& out, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
std::string& vformat(std::string& out, const char* fmt, va_list args)
    __attribute__((format(printf, 2, 0)));

// `s` without the leading and trailing characters that occur in `chars`.
std::string trim(std::string s, const std::string& chars);

// Replaces every non-overlapping occurrence of `from`, left to right, without
// rescanning inserted text. Nothing changes for an empty string or pattern.
std::string& replace(std::string& s, const std::string& from, const std::string& to);

// Lower-cases A to Z in place.
void tolower(std::string& s);

// Appends the pieces between separators to `out` (not cleared first). Empty
// pieces between separators are dropped; the last piece is always appended.
void split(std::string s, std::vector<std::string>& out, const std::string& sep);

// The text as an XML attribute value: &, <, > and " as entities, control
// bytes (a line end among them) as character references; any other text
// unchanged.
std::string xml_attribute(const std::string& text);

// Cuts `s` to at most `max` bytes, at the start of a UTF-8 character, so
// that no character is left in halves.
void cut_utf8(std::string& s, size_t max);

// Case-insensitive comparison of two ASCII texts.
bool iequals(const std::string& a, const std::string& b);

// A whole decimal number no larger than `max`: digits only, at least one, no
// sign or blank. False, with `out` unchanged, for anything else (a null text
// included), so a mistyped value is refused rather than read as 0.
bool parse_number(const char* text, unsigned long long max, unsigned long long& out);

} // namespace str

// Upper-case hexadecimal digit of a value from 0 to 15.
char xtoc(unsigned char v);

// Wall-clock time in microseconds since the epoch.
long long get_systime();
std::string get_systime_str(std::string& out);
