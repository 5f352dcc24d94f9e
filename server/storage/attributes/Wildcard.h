#pragma once
// Wildcard matching of attribute names and values: '*' any run of
// characters, '?' exactly one, anything else itself, case-sensitive.
//
// Paths use a backslash: once the pattern has matched a backslash directly
// followed by '*', no text backslash matches any more, so "dir\*" finds the
// names directly under "dir\" and none deeper.

// 1 for a match, else 0. A null pointer counts as empty text.
int MatchWildcard(const char* pattern, const char* text);
// 1 for a match, else 0. 1 also when either pointer is null or when pattern
// and text are the same characters.
int MatchWildcardW(const char16_t* pattern, const char16_t* text);
