#pragma once
// Storage folders as the console writes them: parts joined with one "/", and
// a trailing "/" so that the server's own file names append directly.

#include <string>

// folder and name with exactly one "/" between them; name alone when folder
// is empty (a folder relative to the current one).
std::string JoinFolder(const std::string& folder, const std::string& name);

// The folder with one trailing "/" (nothing added to an empty text).
std::string WithTrailingSlash(const std::string& folder);

// Whether a file or folder of that path exists.
bool PathExists(const std::string& path);
