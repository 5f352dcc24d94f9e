#pragma once
// The console's command ids: each command is known by its number, whatever
// sends it (menu, toolbar, accelerator, or a test).

namespace cmd {

inline constexpr int kFileNew = 0xE100;           // File > New Virtual Server, Ctrl+N
inline constexpr int kFileSave = 0xE103;          // File > Save Configuration, Ctrl+S
inline constexpr int kAppExit = 0xE141;           // File > Exit
inline constexpr int kAppAbout = 0xE140;          // Help > About
inline constexpr int kViewRefresh = 0xE803;       // View > Refresh
inline constexpr int kViewStatusBar = 0xE801;     // nothing sends it
inline constexpr int kNewServer = 2000;           // toolbar "New Server"
inline constexpr int kDeleteServer = 2001;        // toolbar "Delete Server"
inline constexpr int kServiceStart = 32772;       // Service > Start
inline constexpr int kServiceStop = 32773;        // Service > Stop
inline constexpr int kCheckForUpdates = 32775;    // nothing sends it
inline constexpr int kClearServerList = 32776;    // nothing sends it
inline constexpr int kViewIcons = 32782;          // View > Icons
inline constexpr int kViewList = 32783;           // View > List
inline constexpr int kViewServerActivity = 32785; // View > Server Activity, toolbar "Server Activity"

// The activity window's own toolbar (its numbers are the window's alone).
inline constexpr int kSaveActivity = 2000;  // "Save Activity"
inline constexpr int kClearActivity = 2001; // "Clear Activity"
inline constexpr int kCloseActivity = 2002; // "Close"

} // namespace cmd
