// Debug log: printf-style text to standard error, only after -d.
#pragma once

void debug_set(int on);
int debug_get();
// Writes the text exactly as formatted: no prefix, no time stamp, no line end.
int debug_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
