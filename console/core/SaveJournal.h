#pragma once
// The journal of a configuration save, kept in the registry beside the list
// it guards. The stored list says where each server's data is; the journal
// only proves which folders the save made or moved. Every step of a save, and
// of the recovery of a save that did not end, follows one rule:
//
//   The stored records are read under the registry's lock before anything
//   is done, and each journaled move is settled by what its server's record
//   names then: the old folder undoes it, the new folder finishes it, and
//   neither (or both) leaves both folders where they are. A folder is moved
//   or removed only when the journal proves it is the save's own (its full
//   identity, birth time included, was written down before), when nothing
//   else uses it (the save holds its lock: no running server, no other
//   console), when no stored record names it or a folder inside it, and
//   when what the step leaves behind is complete (a server's data whole,
//   where its stored record names it).
//
// Anything else is left where it is, and said: a record naming a missing
// folder, with where the journal last saw that data, and each folder left
// holding data that no record names. The moves are written down, under a
// fresh id and with their count, before the first one is made; the registry
// change that stores the new list marks the journal finishing, and it is
// removed once the moves are settled. A journal found later belongs to a save
// that did not end, or was restored with an old registry: it is settled by
// the same rule, whatever its state says. A journal that is not whole (its
// state or an entry's values missing or of no known form, fewer entries than
// it noted) is never acted on as it stands: its whole entries are settled by
// the records, the rest named.

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
    // Settles every move by the stored list, then removes the journal, when
    // no folder was in use. unsaved: the journal is whole and says the new
    // list was never stored, so a new folder that no record names goes too.
    Recovery Settle(bool unsaved);

    // The id of the journal this object stands for; nothing before Begin.
    std::optional<std::string> id_;
    std::vector<CFolderMove> moves_;
};
