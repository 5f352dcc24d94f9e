#pragma once
// LDAP result codes as HRESULTs: Win32 errors in facility 7, chiefly the
// directory-service range (8224 onwards) that matches the LDAP codes one to one.
//   invalidCredentials (49)        -> ERROR_LOGON_FAILURE     0x8007052E
//   noSuchObject (32)              -> ERROR_DS_NO_SUCH_OBJECT 0x80072030
//   server down, connect error     -> ERROR_DS_SERVER_DOWN    0x8007203A
//   no reply in time (client side) -> ERROR_TIMEOUT           0x800705B4
//   insufficientAccessRights (50)  -> E_ACCESSDENIED          0x80070005
//   no memory                      -> E_OUTOFMEMORY
// Codes without a counterpart answer E_FAIL.

#include "platform/win/WinTypes.h"

HRESULT LdapResultToHResult(int ldapResult);
