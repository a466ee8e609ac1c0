// Installer codes: a product or patch code in the braced form and in the Installer's packed
// form of 32 hex digits.
#pragma once

// The Installer's packed form of a braced product code, and back; false for anything that
// is not exactly such a code.
bool PackProductCode(const wchar_t* code, wchar_t (&packed)[33]);
bool UnpackProductCode(const wchar_t* packed, wchar_t (&code)[39]);
// True for a braced product code: "{", 8, 4, 4, 4 and 12 hex digits separated by "-", and "}",
// nothing before or after. Only such a name is ever put into a command line.
bool IsProductCode(const wchar_t* name);
// True for a name of exactly 32 hex digits, a code's packed form.
bool IsPackedCode(const wchar_t* name);
