#pragma once
// The one folder under which both programs keep their machine-wide state: the
// registry file, pipe and control sockets, and the event-log file of tests.
// It is TQ_STATE_ROOT when set, else /var/lib/tqwl.

#include <string>

std::string StateRoot();

// StateRoot() + "/" + relative, with the parent folders created.
std::string StatePath(const std::string& relative);

// Creates a folder and its missing parents; true when it exists afterwards.
bool CreateFolders(const std::string& path);
