#pragma once
// The record of one make or restore, for the user and whoever helps them: the program's version,
// the drive, each step with its time, each disk tool command with its exit and everything it
// wrote, and how the operation ended. Lines are written as they come, so an operation that never
// ends still leaves what it did. A log holds the command lines and the tool's words, which name
// files and the drive; never the environment, and never anything the user typed (the
// administrator password goes to polkit's own dialog). A log that cannot be written is left out
// and the operation goes on.

#include "failure/Failure.h"
#include "platform/Process.h"
#include "platform/UniqueFd.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace vornel::builder {

// "1.234 s": how long a step took, as the log says it.
std::string SecondsText(std::chrono::steady_clock::duration took);

class OperationLog {
  public:
    // How many logs a folder keeps: the newest, this one included.
    static constexpr int kKept = 10;

    // Starts "<date>-<time>-<operation>.log" in `folder` (made for the user alone when it is
    // missing) and removes the oldest logs beyond kKept. No log when `folder` is empty or cannot
    // be written.
    OperationLog(const std::string& folder, const std::string& operation, const std::string& version);

    // The log's file, or empty when there is none.
    const std::string& Path() const { return path_; }

    // A line, after the time since the operation began.
    void Line(const std::string& text);
    // The drive the operation works on, as the user chose it and as the system knows it.
    void Drive(const std::string& listLine, const std::string& device, const std::string& model,
               std::int64_t bytes);
    // A disk tool command: its line, how it ended, how long it took and all it wrote.
    void Command(const std::string& commandLine, const platform::ProcessOutcome& outcome,
                 std::chrono::steady_clock::duration took);
    // The failure that ended the operation, and the message the user was shown.
    void Failed(const failure::Failure& failure, const std::string& shown);

  private:
    void LineAt(std::chrono::steady_clock::time_point when, const std::string& text);
    void Write(const std::string& text);

    std::string path_;
    platform::UniqueFd file_;
    std::chrono::steady_clock::time_point start_;
};

} // namespace vornel::builder
