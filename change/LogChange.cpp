// The line a real run logs for a change as it is made.
#include "Change.h"

#include "ChangePart.h"
#include "../log/log.h"

void LogChange(const wchar_t* format, ...)
{
    if (RunChanges().preview)
        return;
    va_list arguments;
    va_start(arguments, format);
    LogLineArguments(format, arguments);
    va_end(arguments);
}
