// Inside the log room: how one line's message is composed from its format and arguments.
#pragma once

#include <stdarg.h>
#include <stddef.h>

// Composes a message into out (count characters, its NUL included) and returns its length.
// The format is the program's own text and is copied as it is; "%d" is a 32-bit integer in
// decimal, "%s" a wide string, which may come from the machine: each of its characters that
// could break or disguise a line (C0 and C1 controls, U+007F, U+2028 and U+2029, the
// bidirectional controls U+202A to U+202E and U+2066 to U+2069, a lone surrogate) is written
// as "<U+XXXX>", four upper-case hex digits, and so is the "<" of a "<U+" that the text holds
// itself, so that every "<U+" of a line starts an escape. A message too long is cut before
// the first character, surrogate pair or escape that does not fit whole.
size_t ComposeMessage(wchar_t* out, size_t count, const wchar_t* format, va_list arguments);
