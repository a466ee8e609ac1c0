// COM on the calling thread for the length of one step.
#include "ComThread.h"

#include <objbase.h>

bool BeginComWork()
{
    return SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
}

void EndComWork(bool begun)
{
    if (begun)
        CoUninitialize();
}
