#pragma once
// One storage folder that a configuration save puts in place: a server's
// folder moved to its new name, or a new server's folder made. It is one
// entry of the save's journal (see CSaveJournal for the rule every step here
// follows), written down before anything on disk changes, so that it can be
// undone or finished from what is on disk and in the journal alone, by this
// console or by whoever opens the configuration after this one was killed.
//
// What is the save's own on disk is known by identity, never by name: the
// original folder's, noted once the save holds its lock, and the scratch
// folder's, beside the target, noted once it is made and locked. An identity
// holds the folder's birth time beside its device and inode, so a folder made
// later under a reused inode number is never taken for the save's own. A copy
// (across file systems) and a new folder are built in the scratch folder,
// private until complete, and renamed into place whole, so a target that
// bears the scratch identity is complete. After a plain rename the empty
// scratch folder stays until the journal ends.
//
// Which way a step is settled is read from the stored list, never from the
// journal alone: a record naming the old folder undoes it, one naming the new
// folder finishes it, and otherwise both stay. No folder that a stored record
// names, or that holds one, is ever removed or moved.

#include "platform/file/FileSystem.h"
#include "platform/file/FolderLock.h"
#include "platform/registry/Registry.h"

#include <optional>
#include <string>

class CRegistryTransaction;
class CStoredConfiguration;

class CFolderMove {
public:
    // What an undo or a finish came to.
    enum class Outcome {
        Done,     // nothing of it is left to do
        InUse,    // a folder it must take is held by another process: try again later
        Stranded, // the data cannot go back: it stays at To() (undo only)
        Left,     // done, but something could not be removed (Problem() says what)
    };

    CFolderMove() = default;
    // from "" makes a new folder at to. storedName: the server's name in the
    // stored list ("" for a new server); newName: its name once saved.
    CFolderMove(std::string storedName, std::string newName, std::string from, std::string to);

    // Takes the folder to move (ERROR_SHARING_VIOLATION when a running server
    // or another console holds it), notes its identity, picks the scratch name.
    HRESULT Plan();
    // Makes the target's missing parents and the scratch folder, takes it and
    // notes its identity.
    HRESULT MakeScratch();
    // A folder is renamed; across file systems it is copied into the scratch
    // folder and that is renamed into place, the original staying until
    // Finish. A new folder comes from the scratch folder, with a copy of the
    // administrative settings file of settingsFolder ("" for none).
    HRESULT Apply(const std::string& settingsFolder);
    // Settles the step by what the stored list names now. Where a record
    // names the original, puts it back (a copy whose original is gone is
    // copied back first); where one names the target, removes the original of
    // a copy, only while its complete copy is there. Where neither is named,
    // or both, only the scratch folders go, but that a new folder that no
    // record names goes too when unsaved says no list naming it was stored.
    Outcome Settle(const CStoredConfiguration& stored, bool unsaved);
    // Why, after an outcome other than Done.
    const std::string& Problem() const { return problem_; }
    // After settling: each record of this server that names one of its
    // folders when that is missing, with where its data was last seen, and
    // each of its folders that holds data no record names. "" when none.
    std::string Leftovers(const CStoredConfiguration& stored) const;

    // The journal's record of it, in the key at keyPath; and back.
    void Write(CRegistryTransaction& journal, const std::string& keyPath);
    void WriteScratchIdentity(CRegistryTransaction& journal) const;
    static CFolderMove Read(const std::string& keyPath);
    // Whether the entry read back holds every value, each of a known form.
    bool Whole() const { return whole_; }

    // The server as a message names it: by the name the stored list has
    // before the save (stored) or after it.
    std::string Named(bool stored) const;
    const std::string& StoredName() const { return storedName_; }
    const std::string& NewName() const { return newName_; }
    const std::string& From() const { return from_; }
    const std::string& To() const { return to_; }
    const std::string& Scratch() const { return scratch_; }

private:
    enum class Taken { Ours, NotOurs, InUse };
    Outcome Undo(const CStoredConfiguration& stored);
    Outcome Finish(const CStoredConfiguration& stored);
    Taken Take(const std::string& path, const std::optional<PathIdentity>& id, CFolderLock& lock);
    // Removes a scratch folder of ours left at its own name (a partial copy,
    // an empty one); false when another process holds it.
    bool ClearScratch(const CStoredConfiguration& stored, const std::string& path,
                      const std::optional<PathIdentity>& id, CFolderLock& lock);
    bool ClearScratches(const CStoredConfiguration& stored);
    // Says that the folder at path is not the one the journal noted there.
    void NotOurs(const std::string& path);
    HRESULT CopyBack();
    // One value of its journal entry, written at once.
    bool Note(const char* name, const std::string& text) const;
    // Adds to what Problem() says.
    Outcome Say(Outcome outcome, const std::string& problem);
    Outcome InUse(const std::string& path);

    std::string storedName_;
    std::string newName_;
    std::string from_;
    std::string to_; // without its trailing "/", as file calls want it
    std::string scratch_;
    std::string back_; // where a copy goes back beside from_ before it takes that name
    std::optional<PathIdentity> fromId_;
    std::optional<PathIdentity> scratchId_;
    std::optional<PathIdentity> backId_;
    CFolderLock fromLock_;
    CFolderLock scratchLock_;
    CFolderLock backLock_;
    std::string keyPath_;
    std::string problem_;
    bool whole_ = true;
};
