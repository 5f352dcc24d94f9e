#pragma once
// Names in the file system. Every failure returns false with the last error
// set.

#include "platform/file/FileInfo.h"

#include <string>
#include <vector>

// What the name leads to, links followed.
bool GetPathInfo(const char* path, FileInfo* info);
bool PathExists(const char* path);
// Whether the caller may write the file in place.
bool PathIsWritable(const char* path);
bool DeletePath(const char* path);
// Gives the file the new name, replacing a file under it.
bool RenamePath(const char* from, const char* to);
// Gives a file or folder a new name, never replacing what is there
// (ERROR_ALREADY_EXISTS, also for an empty folder or a dangling link);
// across file systems ERROR_NOT_SAME_DEVICE, so the caller can copy instead.
bool MovePath(const char* from, const char* to);
// The identity of what the path names (links followed): the same for two
// names of one file or folder, and kept across a rename. False (last error
// set) when it does not exist.
bool GetPathIdentity(const char* path, PathIdentity* identity);
// The same for the name itself: a link's own identity, not what it leads to.
bool GetOwnPathIdentity(const char* path, PathIdentity* identity);
// A second name for the same file.
bool LinkPath(const char* existing, const char* link);
// The names in the folder, "." and ".." among them; a folder that does not
// exist is ERROR_PATH_NOT_FOUND.
bool ListFolder(const char* folder, std::vector<std::string>* names);
// The folder's entries (a rename, a new file) reach the disk.
bool FlushFolder(const char* folder);
// How many files the process may have open at once; 0 for no limit.
size_t OpenFileLimit();
