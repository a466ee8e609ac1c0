// Installer codes: a product or patch code in the braced form and in the Installer's packed
// form of 32 hex digits.
#include "InstallerCodes.h"

#include <wchar.h>

namespace {

// Which digit of a code (its 32 hex digits in order) stands at each place of the packed
// form: the first three groups reversed, the two digits of every later byte swapped. The
// order is its own inverse.
const int PackedOrder[32] = {7,  6,  5,  4,  3,  2,  1,  0,  11, 10, 9,  8,  15, 14, 13, 12,
                             17, 16, 19, 18, 21, 20, 23, 22, 25, 24, 27, 26, 29, 28, 31, 30};

bool IsHexDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f');
}

} // namespace

bool IsPackedCode(const wchar_t* name)
{
    for (int i = 0; i < 32; i++) {
        if (!IsHexDigit(name[i]))
            return false;
    }
    return name[32] == L'\0';
}

bool PackProductCode(const wchar_t* code, wchar_t (&packed)[33])
{
    if (wcslen(code) != 38 || code[0] != L'{' || code[37] != L'}')
        return false;
    wchar_t digits[32];
    int count = 0;
    for (int i = 1; i < 37; i++) {
        if (i == 9 || i == 14 || i == 19 || i == 24) {
            if (code[i] != L'-')
                return false;
        } else if (IsHexDigit(code[i])) {
            digits[count++] = code[i];
        } else {
            return false;
        }
    }
    for (int i = 0; i < 32; i++)
        packed[i] = digits[PackedOrder[i]];
    packed[32] = L'\0';
    return true;
}

bool IsProductCode(const wchar_t* name)
{
    wchar_t packed[33];
    return PackProductCode(name, packed);
}

bool UnpackProductCode(const wchar_t* packed, wchar_t (&code)[39])
{
    if (!IsPackedCode(packed))
        return false;
    wchar_t digits[32];
    for (int i = 0; i < 32; i++)
        digits[PackedOrder[i]] = packed[i];
    int at = 0;
    code[at++] = L'{';
    for (int i = 0; i < 32; i++) {
        if (i == 8 || i == 12 || i == 16 || i == 20)
            code[at++] = L'-';
        code[at++] = digits[i];
    }
    code[at++] = L'}';
    code[at] = L'\0';
    return true;
}
