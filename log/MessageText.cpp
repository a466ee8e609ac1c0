// A log line's message: the program's format with its arguments, the texts from the machine
// escaped so that one line stays one message.
#include "MessageText.h"

#include <windows.h>

namespace {

// The message being composed: length characters written so far, one place kept for the NUL.
struct Composed {
    wchar_t* out;
    size_t count;
    size_t length;
    bool full;
};

// Appends characters whole or not at all: once one does not fit, nothing more is written.
void Put(Composed& text, const wchar_t* characters, size_t length)
{
    if (text.full || text.length + length >= text.count) {
        text.full = true;
        return;
    }
    CopyMemory(text.out + text.length, characters, length * sizeof(wchar_t));
    text.length += length;
}

bool IsHighSurrogate(wchar_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(wchar_t c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

// A character that ends, breaks or reorders a line where a reader sees it.
bool IsControlOrFormat(wchar_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

void PutEscape(Composed& text, wchar_t c)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    const wchar_t escape[] = {L'<', L'U', L'+', digits[(c >> 12) & 0xF], digits[(c >> 8) & 0xF],
                              digits[(c >> 4) & 0xF], digits[c & 0xF], L'>'};
    Put(text, escape, ARRAYSIZE(escape));
}

// A text from the machine, each character that could forge or hide a line escaped.
void PutMachineText(Composed& text, const wchar_t* value)
{
    if (value == nullptr)
        value = L"(null)";
    for (const wchar_t* at = value; *at != L'\0' && !text.full; at++) {
        const wchar_t c = *at;
        if (IsHighSurrogate(c) && IsLowSurrogate(at[1])) {
            Put(text, at, 2);
            at++;
        } else if (IsControlOrFormat(c) || IsHighSurrogate(c) || IsLowSurrogate(c) ||
                   (c == L'<' && at[1] == L'U' && at[2] == L'+')) {
            PutEscape(text, c);
        } else {
            Put(text, at, 1);
        }
    }
}

void PutNumber(Composed& text, int value)
{
    wchar_t digits[16];
    const int length = wsprintfW(digits, L"%d", value);
    // A number is cut as any text of the program's own.
    for (int i = 0; i < length; i++)
        Put(text, digits + i, 1);
}

} // namespace

size_t ComposeMessage(wchar_t* out, size_t count, const wchar_t* format, va_list arguments)
{
    Composed text = {out, count, 0, count == 0};
    for (const wchar_t* at = format; *at != L'\0' && !text.full; at++) {
        if (at[0] == L'%' && at[1] == L's') {
            PutMachineText(text, va_arg(arguments, const wchar_t*));
            at++;
        } else if (at[0] == L'%' && at[1] == L'd') {
            PutNumber(text, va_arg(arguments, int));
            at++;
        } else if (at[0] == L'%' && at[1] == L'%') {
            Put(text, at, 1);
            at++;
        } else {
            Put(text, at, 1);
        }
    }
    if (count != 0)
        out[text.length] = L'\0';
    return text.length;
}
