#pragma once
// What saving the console's list over the stored configuration takes, worked
// out and checked whole before anything is stopped, moved or written: the
// folder of every server that moves or is new, the registry changes, and the
// questions to ask first. A server's data lies where the stored record names
// it; the plan never moves a folder onto a name that is taken, never lets two
// servers share a folder (through links either) or one lie inside another's,
// moves only a real folder with no other file system mounted inside, and
// takes over an existing folder that no server uses only when the
// administrator says so.

#include "console/core/FolderMove.h"
#include "console/core/StoredConfiguration.h"
#include "console/core/VirtualServer.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class CRegistryTransaction;

class CSavePlan {
public:
    static constexpr const char* kTakeOver =
        "The folder \"%s\" exists already, and no Virtual Server uses it. It may hold the users and the "
        "administrative password of a deleted server.\n\nShould \"%s\" use this folder as it is? No leaves the "
        "configuration unsaved.";

    // records: the Default record first, then the servers to store.
    CSavePlan(const std::vector<std::unique_ptr<CVirtualServer>>& records, const CStoredConfiguration& stored);

    // Why it cannot be done, or nothing.
    const std::optional<std::string>& Refusal() const { return refusal_; }
    // Yes/No questions to ask before anything is done; a No leaves
    // everything as it was.
    const std::vector<std::string>& Questions() const { return questions_; }
    const std::vector<CFolderMove>& Moves() const { return moves_; }
    // The moves, for the save's journal to take and make.
    std::vector<CFolderMove> TakeMoves() { return std::move(moves_); }

    // Removes the subkeys of servers that are gone or renamed, then writes
    // the servers that are new or changed.
    void AddRegistryChanges(CRegistryTransaction& registry) const;
    // The servers whose stored form changes, for messages ("A, B").
    std::string ChangedNames() const;

private:
    void CheckFolders();
    void CheckNesting(const std::vector<std::string>& data);
    void PlanFolder(const CVirtualServer& record, const std::string& data);
    // Why the folder cannot be moved whole (a link, a mount inside), or nothing.
    static std::optional<std::string> Unmovable(const std::string& folder, const std::string& server);
    const CVirtualServer* StoredOf(const CVirtualServer& record) const;
    bool Changed(const CVirtualServer& record) const;

    const std::vector<std::unique_ptr<CVirtualServer>>& records_;
    const CStoredConfiguration& stored_;
    std::optional<std::string> refusal_;
    std::vector<std::string> questions_;
    std::vector<CFolderMove> moves_;
};
