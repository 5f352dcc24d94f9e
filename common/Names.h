#pragma once
// Names that the server and the console share: registry keys and values, the
// log pipes, the server identity and the service.

namespace tq {

// HKEY_LOCAL_MACHINE
inline constexpr const char* kWardlakeKey = "SOFTWARE\\Tessary Quorle\\Wardlake";
inline constexpr const char* kVirtualServersKey = "SOFTWARE\\Tessary Quorle\\Wardlake\\Virtual Servers";
inline constexpr const char* kSnapinsKey = "SOFTWARE\\Tessary Quorle\\Wardlake\\Snapins";
inline constexpr const char* kTessaryQuorleKey = "SOFTWARE\\Tessary Quorle";
inline constexpr const char* kStorageFolderValue = "StorageFolder";
inline constexpr const char* kPathValue = "Path";
inline constexpr const char* kAllowFileDeletesValue = "AllowFileDeletes";
inline constexpr const char* kPortValue = "Port";
inline constexpr const char* kDescriptionValue = "Description";
inline constexpr const char* kLogExtraInfoValue = "LogExtraInfo";

// HKEY_CLASSES_ROOT: the server identity GUID is the default value of CLSID\<class>.
inline constexpr const char* kServerIdentityClass = "{49C68154-EF9B-41b7-B2A7-D0570983A20A}";
inline constexpr const char* kClsidKeyFormat = "CLSID\\%s";
inline constexpr const char* kAppIdKey = "AppID";
inline constexpr const char* kAppId = "{17F428A4-6A34-4324-8399-281C7DD320F7}";
inline constexpr const char* kLocalServiceValue = "LocalService";

inline constexpr const char* kServiceName = "TQWL";
inline constexpr int kDefaultPort = 34347;
inline constexpr int kClientPort = 34348;

// Call records of a virtual server go to kLogPipe + ".<port>"; info records to kInfoPipe.
inline constexpr const char* kLogPipe = "\\\\.\\pipe\\TQC.Log";
inline constexpr const char* kInfoPipe = "\\\\.\\pipe\\TQC.Log.Info";

// A call record on the log pipe: kind|code|result|caller|message|source|function|line|thread
inline constexpr const char* kLogCallFormat = "%d|%d|%d|%s|%s|%s|%s|%d|%u";
inline constexpr const char* kLogInfoFormat = "%s|%u|%s";
inline constexpr int kLogCallFieldCount = 9;

} // namespace tq
