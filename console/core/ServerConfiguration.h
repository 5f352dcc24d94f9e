#pragma once
// The list of virtual servers the console edits, as it stands in memory: the
// Default record first, then the stored ones, then new ones; and whether it
// differs from what is stored.

#include "console/core/Prompt.h"
#include "console/core/StoredConfiguration.h"
#include "console/core/VirtualServer.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CSaveJournal;
class CSavePlan;
class CServiceCommands;

class CServerConfiguration {
public:
    static constexpr const char* kTitle = "Wardlake 7";
    static constexpr const char* kModifiedSuffix = " (Modified)";
    static constexpr DWORD kNewPortFloor = 35000;
    static constexpr const char* kNewNameFormat = "Virtual Server %u";
    static constexpr const char* kNewServerNotice =
        "IMPORTANT: The administrative password for %s will be copied from the Default Server when the "
        "configuration is saved.";
    static constexpr const char* kNewServerNoticeKey = "{79F9F94A-3E39-4562-BCC9-6FD46E466874}";
    static constexpr const char* kSaving = "Saving configuration...";
    static constexpr const char* kDeleteFailed = "Unable to delete existing configuration.";
    static constexpr const char* kSaveRecordFailed = "Error saving %s: ";
    static constexpr const char* kNotSaved = " The configuration was not saved.";
    static constexpr const char* kChangedElsewhere =
        "The stored configuration was changed by another program since this console loaded or saved it, so it "
        "was not saved.\n\nLoad the stored configuration now? Your changes here will be lost.";
    static constexpr const char* kAnotherSave = "Another console is saving the configuration right now.";
    static constexpr const char* kSaveLockFailed =
        "The lock that keeps two consoles from saving at once, \"%s\", cannot be taken: ";
    static constexpr const char* kUnreadable = "The configuration cannot be read: ";
    static constexpr const char* kNothingSaved = " Nothing can be saved until the registry file is mended.";
    static constexpr const char* kFolderInUse = "Error saving %s: a running server is using its storage folder \"%s\". ";
    static constexpr const char* kJournalChanged =
        "While this save ran, another console or program changed or removed its record of the folders it moves, so "
        "the configuration was not saved.";
    static constexpr const char* kNotStopped = "The service did not stop, so the configuration was not saved.";
    // Consoles that save take it, so that one save's folders never meet another's.
    static constexpr const char* kSaveMutex = "WLStatus.SaveConfiguration";

    // Reads the registry afresh: the Default record from the main key (also
    // when the key is missing), then one record per readable subkey. A save
    // that did not end (the console was killed) is put right first, unless
    // another console is saving. What to say: "" when all went well, else
    // what recovery did or could not do, or why the registry cannot be read.
    std::string Load();
    void Clear();

    // Appends a server on the next free port above the others (at least
    // 35001, never above 65535) with a folder under the install folder that
    // does not exist yet, and marks the list modified. The new record's
    // index; nothing (and a box) when no port is left.
    std::optional<size_t> NewServer(IPrompt& prompt);
    // The notice that the new server's administrative password will come
    // from the Default server, until the user asks not to see it again.
    static void ShowNewServerNotice(IPrompt& prompt, const CVirtualServer& server);

    // Removes the record at index unless it is the read-only Default one;
    // the index to select afterwards (the same one, or the new last), or
    // nothing when nothing was removed.
    std::optional<size_t> Delete(size_t index);

    // Why the records cannot be stored as they are (names that cannot be a
    // subkey, missing ports, names or ports that would be shared), or nothing
    // when they can. Folders are the save plan's to check.
    std::optional<std::string> Refusal() const;

    enum class SaveResult {
        Refused,  // shown or answered No; nothing stopped, nothing written
        Failed,   // nothing written, the folders as they were; shown; still modified
        Reloaded, // stored by someone else meanwhile: the user chose to load that
        Saved,
    };
    // All or nothing. Checks the records, then the stored list against what
    // this console loaded or last saved, plans every folder and asks what the
    // plan needs asked, all before the service is stopped. Then stops it and
    // waits until it has stopped (it changes nothing when the service does
    // not stop), calls afterStop (the window closes what belongs to ports
    // that are gone), journals and makes the folder moves, stores the new
    // list with the journal's end in one registry change, starts the service
    // again, and only then shows what failed. Every box goes through prompt.
    SaveResult SaveConfiguration(CServiceCommands& service, IPrompt& prompt,
                                 const std::function<void()>& afterStop = {});

    // Whether some record has the port.
    bool HasPort(DWORD port) const;

    void SetModified();
    bool IsModified() const { return modified_; }
    // The main window's title for the current modified flag.
    std::string Title() const;

    size_t Count() const { return records_.size(); }
    CVirtualServer* At(size_t index) const { return index < records_.size() ? records_[index].get() : nullptr; }
    const std::vector<std::unique_ptr<CVirtualServer>>& Records() const { return records_; }

private:
    enum class Written { Saved, Failed, Changed };
    // What the registry holds against what this console loaded or last saved.
    enum class Stored { Same, ListChanged, JournalChanged };
    struct SaveError {
        std::string text;
        PromptIcon icon;
    };
    // The journal and the folders, then the registry; errors for the boxes.
    Written Write(CSavePlan& plan, std::vector<SaveError>& errors);
    // Holding the registry's lock: whether the registry still holds the list
    // this console loaded or saved, and no record of an unfinished save but
    // journal's (none when it has not begun), and if so, then (in the same
    // hold). S_OK, or why the lock or the registry could not be had (stored
    // is then Same), or what then answers.
    HRESULT WhileStillStored(const CSaveJournal& journal, Stored& stored,
                             const std::function<HRESULT()>& then = {}) const;
    SaveResult OfferReload(IPrompt& prompt);

    std::vector<std::unique_ptr<CVirtualServer>> records_;
    // What the registry held when the list was loaded or last saved.
    CStoredConfiguration stored_;
    bool modified_ = false;
};
