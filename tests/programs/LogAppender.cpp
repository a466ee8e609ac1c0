// Appends lines to a run log through the program's own log code, as a run does: opened
// from "/Log:<path>", then "Appender <id> line <n>" for n = 1 to count.
//   LogAppender.exe <id> <count> /Log:<path>
#include "app/app.h"
#include "clean/Catalogue.h"
#include "log/log.h"

#include <shellapi.h>
#include <stdlib.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4)
        return 2;
    HandDownProgramNames();
    RunOptions options = {};
    ParseOptions(argc, argv, options);
    OpenRunLog(options.logPath);
    PathBuffer path;
    if (!ExpandText(path, options.logPath) || GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES)
        return 3;
    int id = _wtoi(argv[1]);
    int count = _wtoi(argv[2]);
    for (int n = 1; n <= count; n++)
        LogLine(L"Appender %d line %d", id, n);
    CloseRunLog();
    return 0;
}
