#pragma once
// The rollback journal of a configuration save, kept in the registry beside
// the list it guards. The folder moves are written into it before the first
// one is made; the registry change that stores the new list removes it (or,
// when originals of copies are still to be removed, marks it finished), so
// the stored list and the journal always change together. A journal found
// later was left by a save that did not end: its moves are put back, or, when
// the new list was stored, finished, and the folders match the stored list
// again.

#include "console/core/FolderMove.h"

#include <string>
#include <vector>

class CRegistryTransaction;

class CSaveJournal {
public:
    static constexpr const char* kKey = "SOFTWARE\\Tessary Quorle\\Wardlake\\Unfinished Save";

    explicit CSaveJournal(std::vector<CFolderMove> moves = {});
    bool Empty() const { return moves_.empty(); }

    // Plans every move and writes them down before anything on disk changes:
    // S_OK, or why the journal cannot be written (nothing changed then).
    HRESULT Begin();
    // Makes the scratch folders, notes them, then makes every move. On a
    // failure, server names the server whose folder failed; Undo puts back
    // what was done.
    HRESULT Apply(const std::string& settingsFolder, std::string& server);
    // The journal's part of the registry change that stores the new list.
    void Commit(CRegistryTransaction& registry) const;
    // After that change: removes what the moves left behind, then the journal.
    void Finish();
    // After a failure before the new list was stored: puts every folder back
    // and removes the journal. "" when done, else why not (the journal stays).
    std::string Undo();

    // Ends what a save that did not end left behind: "" when nothing is left
    // to do, else why it cannot be done (the journal then stays for the next
    // try). Run only where no other console is saving.
    static std::string Recover();

private:
    static std::string EntryKey(size_t index);
    std::string UndoMoves() const;
    static LONG Remove();

    std::vector<CFolderMove> moves_;
};
