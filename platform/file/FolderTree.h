#pragma once
// Whole folders copied and removed without ever leaving them: links are
// copied or removed as links and never followed, and nothing that lies on
// another mount inside the folder (a mount point, a bind mount) is entered.
// Every failure returns false with the last error set.

#include <string>

// Copies what the folder from holds into the existing folder into: files
// (each synced), folders and links (as links), then syncs every folder it
// made. Every file and folder keeps its permission bits exactly, whatever the
// umask; a folder gets them once it is filled, so a read-only one is copied
// too. Files, folders and links keep their owner and group as far as the
// process may (all of it as root; else at least a group of its own, the rest
// staying the caller's without failing). Once all of it is copied and synced,
// into itself takes from's owner, group and permission bits, so a caller can
// keep it private until then. Stops at the first failure, what was copied
// staying; a mount inside from fails it with ERROR_NOT_SAME_DEVICE before
// anything of that mount is read. ERROR_DISK_FULL when space runs out.
bool CopyFolderTree(const char* from, const char* into);

// Removes the folder path (not followed when it is a link: ERROR_DIRECTORY)
// and everything in it. What lies on another mount is left, with its mount
// point, and the removal ends with ERROR_BUSY; a path that is itself the root
// of a mount is refused the same way before anything is removed. On any
// failure what could be removed is gone and the rest stays.
bool RemoveFolderTree(const char* path);

// Whether the folder is the root of a mount or holds one anywhere inside it
// (links are not followed): true with the first such path in *mountPoint.
// False when there is none (last error ERROR_SUCCESS) or when the folder
// cannot be read through (its error).
bool FolderHoldsMount(const char* folder, std::string* mountPoint);
