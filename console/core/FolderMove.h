#pragma once
// One storage folder that a configuration save puts in place: a server's
// folder moved to its new name, or a new server's folder made. It is written
// into the save's journal before anything on disk changes, so that it can be
// undone, or finished, from what is on disk alone, by this console or by
// whoever opens the configuration after this one was killed.
//
// Copies and new folders are built in a scratch folder beside the target,
// named afresh for the save, and renamed into place whole. What is ours on
// disk is known by identity: the original folder's, noted before the
// journal is written, and the scratch folder's, noted once it is made.

#include "platform/file/FileSystem.h"
#include "platform/registry/Registry.h"

#include <optional>
#include <string>

class CRegistryTransaction;

class CFolderMove {
public:
    CFolderMove() = default;
    // from "" makes a new folder at to.
    CFolderMove(std::string server, std::string from, std::string to);

    // Picks the scratch name and notes the original's identity.
    HRESULT Plan();
    // Makes the target's missing parents and the scratch folder, and notes
    // the scratch folder's identity.
    HRESULT MakeScratch();
    // A folder is renamed; across file systems it is copied into the scratch
    // folder and that is renamed into place, the original staying until
    // Finish. A new folder comes from the scratch folder, with a copy of the
    // administrative settings file of settingsFolder ("" for none).
    HRESULT Apply(const std::string& settingsFolder);
    // Puts back what Apply did: "" when nothing is left to undo, else why.
    std::string Undo() const;
    // Once the registry names the target: removes the original of a copy and
    // a scratch folder left over.
    void Finish() const;

    // The journal's record of it, in the key at keyPath; and back.
    void Write(CRegistryTransaction& journal, const std::string& keyPath) const;
    void WriteScratchIdentity(CRegistryTransaction& journal, const std::string& keyPath) const;
    static CFolderMove Read(const std::string& keyPath);

    const std::string& Server() const { return server_; }
    const std::string& From() const { return from_; }
    const std::string& To() const { return to_; }
    const std::string& Scratch() const { return scratch_; }
    // Whether Apply copied the folder, so that its original is still there.
    bool Copied() const { return copied_; }

private:
    std::string server_;
    std::string from_;
    std::string to_; // without its trailing "/", as file calls want it
    std::string scratch_;
    std::optional<PathIdentity> fromId_;
    std::optional<PathIdentity> scratchId_;
    bool copied_ = false;
};
