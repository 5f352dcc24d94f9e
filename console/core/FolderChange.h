#pragma once
// What a configuration save did to one server's storage folder, kept until
// the registry names the result: Undo puts things back when the registry
// could not be written, Finish removes what the registry no longer names.
// Folders are the console's form ("/" at the end or not).

#include "platform/win/WinTypes.h"

#include <string>

class CFolderChange {
public:
    // Moves the folder from to a new name, never onto something that exists.
    // Across file systems the folder is copied beside the new name and
    // renamed into place; the original stays until Finish.
    HRESULT Move(const std::string& from, const std::string& to);
    // Creates the folder and its missing parents, with a copy of the
    // administrative settings file from settingsFolder when that is not empty.
    HRESULT Create(const std::string& folder, const std::string& settingsFolder);

    void Undo();
    void Finish();

private:
    enum class Kind { None, Renamed, Copied, Created };
    Kind kind_ = Kind::None;
    std::string from_;
    std::string to_; // for a created folder, the outermost folder that was made
};
