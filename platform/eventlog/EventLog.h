#pragma once
// The event log: events of a named source go to syslog, and, when the
// environment variable TQ_EVENTLOG_FILE names a file, one line each to that
// file as well (tests read it). A line is tab-separated:
//   source, type, category, event id (0x%08X), user SID or "-", strings...
// with tabs, line ends and backslashes inside strings written as \t, \n, \r, \\.
// The type is "Error", "Warning", "Information", "Success", "AuditSuccess" or
// "AuditFailure", or its number in decimal for any other value; the category
// is decimal. A null string of the array is an empty field. Each line is
// appended with one write, so lines of several processes never mix.
//
// In syslog the source name is the ident and the type gives the priority
// (error: LOG_ERR; warning and audit failure: LOG_WARNING; audit success:
// LOG_NOTICE; others: LOG_INFO), facility LOG_DAEMON. Raw data is not logged.

#include "platform/win/WinTypes.h"

#include <string>

struct EventSource;
using HEVENTLOG = EventSource*;

constexpr WORD EVENTLOG_SUCCESS = 0x0000;
constexpr WORD EVENTLOG_ERROR_TYPE = 0x0001;
constexpr WORD EVENTLOG_WARNING_TYPE = 0x0002;
constexpr WORD EVENTLOG_INFORMATION_TYPE = 0x0004;
constexpr WORD EVENTLOG_AUDIT_SUCCESS = 0x0008;
constexpr WORD EVENTLOG_AUDIT_FAILURE = 0x0010;

// server must be null (the local machine). Null with the last error set when
// the source cannot be registered.
HEVENTLOG RegisterEventSourceA(const char* server, const char* sourceName);
BOOL DeregisterEventSource(HEVENTLOG source);

// userSid is a SID text ("S-1-...") or null. FALSE with the last error set
// for an unknown source (ERROR_INVALID_HANDLE), strings null with numStrings
// above 0 (ERROR_INVALID_PARAMETER), or a file that cannot be written.
BOOL ReportEventA(HEVENTLOG source, WORD type, WORD category, DWORD eventId, const char* userSid, WORD numStrings,
                  DWORD dataSize, const char** strings, const void* rawData);

// The SID text of the process's user ("S-1-22-1-<uid>"), or "" when unknown.
std::string GetProcessUserSid();
