#pragma once
// The user's Chinese message for every failure of the program's core: the one place they are
// written. The fixed texts of the make and restore operations stand here byte for byte.

#include "failure/Failure.h"

#include <exception>
#include <string>

namespace vornel::failure {

std::string ChineseText(const Failure& failure);

// The message for any error that reaches the user: a Failure's Chinese text, else the error's
// own message.
std::string UserText(const std::exception& error);

// The system's reason for an errno, in Chinese where the program knows it.
std::string SystemReason(int error);

// A message with the line that says where the operation's log is (none when it has no log).
std::string WithLogPlace(const std::string& message, const std::string& logPath);

} // namespace vornel::failure
