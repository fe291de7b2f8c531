#pragma once
// Files a run has begun and not yet finished. A front end that is
// interrupted (Ctrl-C, SIGTERM, a closed console) removes them before it
// ends, from a signal handler: the table is fixed in size and read without
// allocating or locking.

#include <string>

// Notes Path; false when the table is full or the path too long (the file is
// then still removed by its owner on every ordinary path).
bool RegisterTemporaryFile(const std::string& Path);
// Drops Path from the table (it was renamed into place or removed).
void ForgetTemporaryFile(const std::string& Path);
// Calls Visit for every noted path; safe inside a signal handler.
void ForEachTemporaryFile(void (*Visit)(const char* Path));
