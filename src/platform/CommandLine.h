#pragma once
// Command lines as one string, split into a program and its arguments by the rules Windows
// programs use, so a line made for the Windows tool means the same here. No shell is involved.

#include <string>
#include <vector>

namespace vornel::platform {

// Splits a command line into argv. The program name runs to the first blank (space or tab)
// outside double quotes; quotes in it only group and are dropped, and backslashes are plain.
// Each argument after it follows these rules:
//   - blanks outside quotes separate arguments; a quote toggles quoting and is dropped;
//   - 2n backslashes before a quote give n backslashes and the quote toggles quoting;
//   - 2n+1 backslashes before a quote give n backslashes and a literal quote;
//   - backslashes not before a quote are literal;
//   - "" inside quotes gives a literal quote and quoting goes on.
// An empty or blank line gives no words.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

} // namespace vornel::platform
