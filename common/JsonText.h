// JSON text: a document built as UTF-8 (no byte-order mark) in a buffer that grows on the
// process heap. Strings are escaped as JSON requires; UTF-16 that is not valid (a lone
// surrogate) is written as U+FFFD. Commas between members and elements are placed here.
#pragma once

#include <windows.h>

struct JsonText {
    char* bytes;        // the document so far, not terminated
    DWORD length;       // bytes used
    DWORD capacity;     // bytes allocated
    bool failed;        // the heap had no room for something: the document is unusable
    int depth;          // open objects and arrays
    bool hasMember[16]; // per open level: something written already, so the next needs a comma
    char closer[16];    // per open level: '}' or ']'
};

// Starts an empty document ({} before use); free it with JsonFree.
void JsonFree(JsonText& json);

// An object or array; name is the member's name inside an object, null inside an array or
// at the top.
void JsonOpenObject(JsonText& json, const char* name);
void JsonOpenArray(JsonText& json, const char* name);
void JsonClose(JsonText& json);

// Members (name not null) or elements (name null).
void JsonString(JsonText& json, const char* name, const wchar_t* text);  // text null: null
void JsonNumber(JsonText& json, const char* name, long long number);
void JsonBool(JsonText& json, const char* name, bool value);
void JsonNull(JsonText& json, const char* name);
