#include "platform/directory/LdapError.h"

#include "platform/directory/DirectoryErrors.h"

#include <ldap.h>

HRESULT LdapResultToHResult(int rc)
{
    DWORD error;
    switch (rc) {
    case LDAP_SUCCESS:
        return S_OK;
    case LDAP_NO_MEMORY:
        return E_OUTOFMEMORY;
    case LDAP_INSUFFICIENT_ACCESS:
        return E_ACCESSDENIED;
    case LDAP_INVALID_CREDENTIALS:
        error = ERROR_LOGON_FAILURE;
        break;
    case LDAP_NO_SUCH_OBJECT:
        error = ERROR_DS_NO_SUCH_OBJECT;
        break;
    case LDAP_INVALID_DN_SYNTAX:
        error = ERROR_DS_INVALID_DN_SYNTAX;
        break;
    case LDAP_SERVER_DOWN:
    case LDAP_CONNECT_ERROR:
        error = ERROR_DS_SERVER_DOWN;
        break;
    case LDAP_TIMEOUT:
        error = ERROR_TIMEOUT;
        break;
    case LDAP_OPERATIONS_ERROR:
        error = ERROR_DS_OPERATIONS_ERROR;
        break;
    case LDAP_PROTOCOL_ERROR:
        error = ERROR_DS_PROTOCOL_ERROR;
        break;
    case LDAP_TIMELIMIT_EXCEEDED:
        error = ERROR_DS_TIMELIMIT_EXCEEDED;
        break;
    case LDAP_SIZELIMIT_EXCEEDED:
        error = ERROR_DS_SIZELIMIT_EXCEEDED;
        break;
    case LDAP_ADMINLIMIT_EXCEEDED:
        error = ERROR_DS_ADMIN_LIMIT_EXCEEDED;
        break;
    case LDAP_AUTH_METHOD_NOT_SUPPORTED:
        error = ERROR_DS_AUTH_METHOD_NOT_SUPPORTED;
        break;
    case LDAP_STRONG_AUTH_REQUIRED:
        error = ERROR_DS_STRONG_AUTH_REQUIRED;
        break;
    case LDAP_INAPPROPRIATE_AUTH:
        error = ERROR_DS_INAPPROPRIATE_AUTH;
        break;
    case LDAP_AUTH_UNKNOWN:
        error = ERROR_DS_AUTH_UNKNOWN;
        break;
    case LDAP_REFERRAL:
        error = ERROR_DS_REFERRAL;
        break;
    case LDAP_UNAVAILABLE_CRITICAL_EXTENSION:
        error = ERROR_DS_UNAVAILABLE_CRIT_EXTENSION;
        break;
    case LDAP_CONFIDENTIALITY_REQUIRED:
        error = ERROR_DS_CONFIDENTIALITY_REQUIRED;
        break;
    case LDAP_NO_SUCH_ATTRIBUTE:
        error = ERROR_DS_NO_ATTRIBUTE_OR_VALUE;
        break;
    case LDAP_INAPPROPRIATE_MATCHING:
        error = ERROR_DS_INAPPROPRIATE_MATCHING;
        break;
    case LDAP_CONSTRAINT_VIOLATION:
        error = ERROR_DS_CONSTRAINT_VIOLATION;
        break;
    case LDAP_ALIAS_PROBLEM:
        error = ERROR_DS_ALIAS_PROBLEM;
        break;
    case LDAP_IS_LEAF:
        error = ERROR_DS_IS_LEAF;
        break;
    case LDAP_ALIAS_DEREF_PROBLEM:
        error = ERROR_DS_ALIAS_DEREF_PROBLEM;
        break;
    case LDAP_BUSY:
        error = ERROR_DS_BUSY;
        break;
    case LDAP_UNAVAILABLE:
        error = ERROR_DS_UNAVAILABLE;
        break;
    case LDAP_UNWILLING_TO_PERFORM:
        error = ERROR_DS_UNWILLING_TO_PERFORM;
        break;
    case LDAP_LOOP_DETECT:
        error = ERROR_DS_LOOP_DETECT;
        break;
    case LDAP_LOCAL_ERROR:
        error = ERROR_DS_LOCAL_ERROR;
        break;
    case LDAP_ENCODING_ERROR:
        error = ERROR_DS_ENCODING_ERROR;
        break;
    case LDAP_DECODING_ERROR:
        error = ERROR_DS_DECODING_ERROR;
        break;
    case LDAP_FILTER_ERROR:
        error = ERROR_DS_FILTER_UNKNOWN;
        break;
    case LDAP_PARAM_ERROR:
        error = ERROR_DS_PARAM_ERROR;
        break;
    case LDAP_NOT_SUPPORTED:
        error = ERROR_DS_NOT_SUPPORTED;
        break;
    case LDAP_CONTROL_NOT_FOUND:
        error = ERROR_DS_CONTROL_NOT_FOUND;
        break;
    case LDAP_CLIENT_LOOP:
        error = ERROR_DS_CLIENT_LOOP;
        break;
    case LDAP_REFERRAL_LIMIT_EXCEEDED:
        error = ERROR_DS_REFERRAL_LIMIT_EXCEEDED;
        break;
    default:
        return E_FAIL;
    }
    return HRESULT_FROM_WIN32(error);
}
