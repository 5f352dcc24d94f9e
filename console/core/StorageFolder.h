#pragma once
// Storage folders as the console writes them: parts joined with one "/", and
// a trailing "/" so that the server's own file names append directly.

#include <string>

// folder and name with exactly one "/" between them; name alone when folder
// is empty (a folder relative to the current one).
std::string JoinFolder(const std::string& folder, const std::string& name);

// The folder with one trailing "/" (nothing added to an empty text).
std::string WithTrailingSlash(const std::string& folder);

// The folder without its trailing "/", as file calls want it ("/" stays).
std::string WithoutTrailingSlash(const std::string& folder);

// The folder that holds path ("" for a name without one).
std::string ParentFolder(const std::string& path);

// Whether a file or folder of that path exists (links followed).
bool PathExists(const std::string& path);

// Whether anything has that name, a link to nothing included.
bool NameTaken(const std::string& path);

// Whether two storage folders are one folder: the same folder on disk when
// both exist (through links, or written differently), the same path with its
// links resolved when neither does.
bool SameFolder(const std::string& a, const std::string& b);

// Whether inner lies inside outer, below it (not outer itself): judged by the
// folders on disk where outer exists (through links and bind mounts), else by
// the paths with their links resolved.
bool FolderInside(const std::string& inner, const std::string& outer);

// Whether the folder's own name is a link.
bool IsLink(const std::string& path);
