#pragma once
// The journal of a configuration save, kept in the registry beside the list
// it guards. Every step of a save, and of the recovery of a save that did not
// end, follows one rule:
//
//   A folder is moved or removed only when the journal proves it is the
//   save's own (its identity was written down before), when nothing else
//   uses it (the save holds its lock: no running server, no other console),
//   and when what the step leaves behind is complete (a server's data whole,
//   where its stored record names it).
//
// Anything else is left where it is, and said. The folder moves are written
// down, under a fresh id, before the first one is made; the registry change
// that stores the new list marks the journal finishing, and it is removed
// once the moves are finished. A journal found later belongs to a save that
// did not end: its moves are put back, or finished when the new list was
// stored, and the folders match the stored list again.

#include "console/core/FolderMove.h"

#include <optional>
#include <string>
#include <vector>

class CRegistryTransaction;

class CSaveJournal {
public:
    static constexpr const char* kKey = "SOFTWARE\\Tessary Quorle\\Wardlake\\Unfinished Save";

    explicit CSaveJournal(std::vector<CFolderMove> moves = {});
    bool Empty() const { return moves_.empty(); }

    // Run holding the registry's lock, once IsStored() said no journal is
    // there: takes every folder to move and writes the moves down before
    // anything on disk changes. S_OK, or why not (nothing changed then;
    // ERROR_SHARING_VIOLATION when a running server holds a folder), with
    // failed the move that failed.
    HRESULT Begin(const CFolderMove*& failed);
    // Makes and takes the scratch folders, notes them, then makes every move;
    // failed as for Begin. Undo puts back what was done.
    HRESULT Apply(const std::string& settingsFolder, const CFolderMove*& failed);
    // Whether the registry holds this journal, and no other (none at all
    // before Begin or for a save without moves). Read it under the registry's
    // lock, in the hold that then acts on it.
    bool IsStored() const;
    // The journal's part of the registry change that stores the new list.
    void Commit(CRegistryTransaction& registry) const;
    // After that change: removes what the moves left behind, then the
    // journal. What could not be removed, to be said ("" when nothing).
    std::string Finish();
    // After a failure before the new list was stored: puts every folder back
    // and removes the journal if it is still this one. What to say.
    std::string Undo();

    struct Recovery {
        std::string problem; // what to say, "" when nothing
        bool blocked = false; // a folder is in use: the journal stays, and no save may begin
    };
    // Ends what a save that did not end left behind. A folder that cannot go
    // back stays where its data is, and the stored list names it there, so
    // no journal is ever left that keeps the console from saving, but while
    // a folder it must take is in use. Run only holding the save mutex.
    static Recovery Recover();

private:
    static std::string EntryKey(size_t index);
    // Undoes (before the new list was stored) or finishes every move, then
    // removes the journal, when no folder was in use.
    Recovery Settle(bool finishing);

    // The id of the journal this object stands for; nothing before Begin.
    std::optional<std::string> id_;
    std::vector<CFolderMove> moves_;
};
