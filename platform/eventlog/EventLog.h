#pragma once
// The event log: events of a named source go to syslog, and, when the
// environment variable TQ_EVENTLOG_FILE names a file, one line each to that
// file as well (tests read it). A line is tab-separated:
//   source, type, category, event id (0x%08X), user SID or "-", strings...
// with tabs, line ends and backslashes inside strings written as \t, \n, \r, \\.

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

// userSid is a SID text ("S-1-...") or null.
BOOL ReportEventA(HEVENTLOG source, WORD type, WORD category, DWORD eventId, const char* userSid, WORD numStrings,
                  DWORD dataSize, const char** strings, const void* rawData);

// The SID text of the process's user ("S-1-22-1-<uid>"), or "" when unknown.
std::string GetProcessUserSid();
