#pragma once
// Result codes of the directory-service layer: the directory provider's own
// HRESULTs and the account errors of the network layer. The Win32
// directory-service errors that LDAP results map to are in WinTypes.h.

#include "platform/win/WinTypes.h"

constexpr HRESULT E_ADS_BAD_PATHNAME = static_cast<HRESULT>(0x80005000u);
constexpr HRESULT E_ADS_PROPERTY_NOT_FOUND = static_cast<HRESULT>(0x8000500Du);

constexpr DWORD NERR_GroupNotFound = 2220;
constexpr DWORD NERR_UserNotFound = 2221;
