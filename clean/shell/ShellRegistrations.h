// Shell registrations of one scope: what ties the product into the shell and the system
// besides its own keys (App Paths, "Open with" entries, file types, URL protocols, COM servers
// and shell extensions, browser hosts, registered applications), each one whose program, file or
// key is the product's by the product targets' rule. A user's Software is read in one view, the
// machine's in both; each class root (a Software\Classes, a class hive's top) once per view that
// shows a key of its own.
#pragma once

void RemoveUserShellRegistrations(const wchar_t* sid);
void RemoveMachineShellRegistrations();
// The class hive of the user sid, loaded at HKEY_USERS\<classesName>.
void RemoveClassHiveShellRegistrations(const wchar_t* sid, const wchar_t* classesName);
