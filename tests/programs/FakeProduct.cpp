// Stand-in for a running product process: sleeps until terminated, or for the
// number of seconds given as its first argument (default ten minutes).
#include <windows.h>
#include <stdlib.h>

int wmain(int argc, wchar_t** argv)
{
    DWORD seconds = argc > 1 ? static_cast<DWORD>(_wtoi(argv[1])) : 600;
    Sleep(seconds * 1000);
    return 7;
}
