// JSON text written as UTF-8, one member or element per line, indented by depth.
#include "JsonText.h"

namespace {

const int MaxDepth = ARRAYSIZE(JsonText().hasMember);

// Grows the buffer to hold count more bytes; false (and the document failed) when it cannot.
bool Reserve(JsonText& json, DWORD count)
{
    if (json.failed)
        return false;
    if (json.length + count <= json.capacity)
        return true;
    DWORD capacity = json.capacity < 4096 ? 4096 : json.capacity;
    while (capacity < json.length + count) {
        if (capacity > 0x40000000) {
            json.failed = true;
            return false;
        }
        capacity *= 2;
    }
    void* grown = json.bytes == nullptr ? HeapAlloc(GetProcessHeap(), 0, capacity)
                                        : HeapReAlloc(GetProcessHeap(), 0, json.bytes, capacity);
    if (grown == nullptr) {
        json.failed = true;
        return false;
    }
    json.bytes = static_cast<char*>(grown);
    json.capacity = capacity;
    return true;
}

void PutBytes(JsonText& json, const char* bytes, DWORD count)
{
    if (!Reserve(json, count))
        return;
    CopyMemory(json.bytes + json.length, bytes, count);
    json.length += count;
}

void PutText(JsonText& json, const char* text)
{
    PutBytes(json, text, static_cast<DWORD>(lstrlenA(text)));
}

// One code point as UTF-8.
void PutCodePoint(JsonText& json, unsigned long point)
{
    char bytes[4];
    DWORD count;
    if (point < 0x80) {
        bytes[0] = static_cast<char>(point);
        count = 1;
    } else if (point < 0x800) {
        bytes[0] = static_cast<char>(0xC0 | (point >> 6));
        bytes[1] = static_cast<char>(0x80 | (point & 0x3F));
        count = 2;
    } else if (point < 0x10000) {
        bytes[0] = static_cast<char>(0xE0 | (point >> 12));
        bytes[1] = static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        bytes[2] = static_cast<char>(0x80 | (point & 0x3F));
        count = 3;
    } else {
        bytes[0] = static_cast<char>(0xF0 | (point >> 18));
        bytes[1] = static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        bytes[2] = static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        bytes[3] = static_cast<char>(0x80 | (point & 0x3F));
        count = 4;
    }
    PutBytes(json, bytes, count);
}

// A quoted string: quotation mark, backslash and the control characters escaped, a surrogate
// without its partner replaced.
void PutQuoted(JsonText& json, const wchar_t* text)
{
    PutText(json, "\"");
    for (const wchar_t* at = text; *at != L'\0'; at++) {
        unsigned long unit = static_cast<unsigned short>(*at);
        if (unit == L'"') {
            PutText(json, "\\\"");
        } else if (unit == L'\\') {
            PutText(json, "\\\\");
        } else if (unit < 0x20) {
            char escaped[8];
            wsprintfA(escaped, "\\u%04X", static_cast<unsigned>(unit));
            PutText(json, escaped);
        } else if (unit >= 0xD800 && unit <= 0xDBFF && at[1] >= 0xDC00 && at[1] <= 0xDFFF) {
            unsigned long low = static_cast<unsigned short>(*++at);
            PutCodePoint(json, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            PutCodePoint(json, 0xFFFD);
        } else {
            PutCodePoint(json, unit);
        }
    }
    PutText(json, "\"");
}

// What comes before a member or element: a comma after an earlier one, the line end and
// the indentation, and the member's name.
void Begin(JsonText& json, const char* name)
{
    if (json.depth > 0) {
        if (json.hasMember[json.depth - 1])
            PutText(json, ",");
        json.hasMember[json.depth - 1] = true;
        PutText(json, "\n");
        for (int level = 0; level < json.depth; level++)
            PutText(json, "  ");
    }
    if (name != nullptr) {
        // Names are this program's own ASCII words; they need no escaping.
        PutText(json, "\"");
        PutText(json, name);
        PutText(json, "\": ");
    }
}

void Open(JsonText& json, const char* name, const char* opener, char closer)
{
    Begin(json, name);
    PutText(json, opener);
    if (json.depth >= MaxDepth) {
        json.failed = true;
        return;
    }
    json.closer[json.depth] = closer;
    json.hasMember[json.depth++] = false;
}

} // namespace

void JsonFree(JsonText& json)
{
    if (json.bytes != nullptr)
        HeapFree(GetProcessHeap(), 0, json.bytes);
    json = {};
}

void JsonOpenObject(JsonText& json, const char* name)
{
    Open(json, name, "{", '}');
}

void JsonOpenArray(JsonText& json, const char* name)
{
    Open(json, name, "[", ']');
}

void JsonClose(JsonText& json)
{
    if (json.depth == 0) {
        json.failed = true;
        return;
    }
    bool hadMembers = json.hasMember[--json.depth];
    if (hadMembers) {
        PutText(json, "\n");
        for (int level = 0; level < json.depth; level++)
            PutText(json, "  ");
    }
    PutBytes(json, &json.closer[json.depth], 1);
    if (json.depth == 0)
        PutText(json, "\n");
}

void JsonString(JsonText& json, const char* name, const wchar_t* text)
{
    if (text == nullptr) {
        JsonNull(json, name);
        return;
    }
    Begin(json, name);
    PutQuoted(json, text);
}

void JsonNumber(JsonText& json, const char* name, long long number)
{
    char digits[24];
    char* at = digits + sizeof(digits);
    *--at = '\0';
    unsigned long long magnitude = number < 0 ? 0ULL - static_cast<unsigned long long>(number) : number;
    do {
        *--at = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (number < 0)
        *--at = '-';
    Begin(json, name);
    PutText(json, at);
}

void JsonBool(JsonText& json, const char* name, bool value)
{
    Begin(json, name);
    PutText(json, value ? "true" : "false");
}

void JsonNull(JsonText& json, const char* name)
{
    Begin(json, name);
    PutText(json, "null");
}
