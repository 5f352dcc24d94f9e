#pragma once
// The list of virtual servers the console edits, as it stands in memory: the
// Default record first, then the stored ones, then new ones; and whether it
// differs from what is stored.

#include "console/core/Prompt.h"
#include "console/core/VirtualServer.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

    // Reads the registry afresh: the Default record from the main key (also
    // when the key is missing), then one record per readable subkey.
    void Load();
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
    // subkey or a folder, missing ports, names, ports or folders that would
    // be shared), or nothing when they can.
    std::optional<std::string> Refusal() const;

    enum class SaveResult {
        Refused, // shown to the user; nothing stopped, nothing written
        Failed,  // written as far as possible, failures shown; still modified
        Saved,
    };
    // Stops the service and waits until it has stopped, calls afterStop
    // (the window closes what belongs to ports that are gone), puts every
    // server's folder in place and then replaces the stored list in one
    // registry change, starts the service again, and only then shows what
    // failed. A server whose folder could not be moved or made keeps its
    // stored record and folder; when the registry cannot be written, the
    // folders are put back. Every failure goes through prompt.
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
    struct SaveError {
        std::string text;
        PromptIcon icon;
    };
    // The folders, then the registry; false when anything failed.
    bool WriteRecords(std::vector<SaveError>& errors);

    std::vector<std::unique_ptr<CVirtualServer>> records_;
    bool modified_ = false;
};
