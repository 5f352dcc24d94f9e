#pragma once
// The command line of a service ("ImagePath"): the program path and its
// arguments in one text, each part quoted when it holds blanks or quotes.
// Splitting follows the usual rules of that platform: blanks separate parts
// outside quotes, a quote opens or closes quoting, and backslashes are plain
// except in front of a quote, where each pair gives one backslash and an odd
// one makes the quote literal.

#include <string>
#include <vector>

std::vector<std::string> SplitServiceCommandLine(const std::string& commandLine);

// The command line that splits back into exactly these parts.
std::string MakeServiceCommandLine(const std::vector<std::string>& parts);
