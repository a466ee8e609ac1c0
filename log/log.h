// Run log: one UTF-16LE file of time-stamped lines, appended to by every run.
#pragma once

#include <windows.h>

#include "../common/Bounded.h"

#include <stdarg.h>

// Opens the log named by logPath ("/Log:", unexpanded; empty: the default one) for appending
// and writes the separator line. Called once, on the main thread, before anything else is logged.
void OpenRunLog(const wchar_t* logPath);

// The path of the file the log is open on; false while logging is off.
bool RunLogFilePath(PathBuffer& out);

// Closes the log and what guards it; logging is off afterwards.
void CloseRunLog();

// Appends one line: the UTC time stamp, the message formatted printf-style (%s a
// wide string, %d a 32-bit integer), CR LF. Does nothing while logging is off. A %s text
// has its control and format characters written as "<U+XXXX>" (log/MessageText.h): a
// text from the machine never breaks the line or forges another.
void LogLine(const wchar_t* format, ...);
// The same with the arguments already collected.
void LogLineArguments(const wchar_t* format, va_list arguments);

// A UTC time as the log's time stamps show it: "YYYY-MM-DDThh:mm:ss.mmmZ".
typedef wchar_t TimeStampText[25];
void FormatTimeStamp(const SYSTEMTIME& time, TimeStampText& out);
