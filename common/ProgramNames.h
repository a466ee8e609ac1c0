// The names of the program that the floors below the catalogue give the objects they make.
// They hold no value of their own: the catalogue hands them down once at start-up, before the
// log is opened, and nothing changes them afterwards.
#pragma once

struct ProgramNames {
    const wchar_t* program;        // the private namespace, and the start of a log's lock name
    const wchar_t* logFolder;      // the default log's folder, unexpanded
    const wchar_t* logFileName;    // the default log's file in that folder
    const wchar_t* markerKeyPath;  // the scope marker's key below a scope: the maker's key, then one name
    const wchar_t* renamePrefix;   // the start of a file's name when it is renamed for deletion at restart
};

inline ProgramNames HandedNames = {};
