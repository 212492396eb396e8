#include "builder/OperationLog.h"

#include "platform/Files.h"
#include "platform/ReadWrite.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vornel::builder {

namespace {

// "20261209-014021": log names sort in the order the operations began.
std::string LocalTimeStamp(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[64];
    return std::strftime(text, sizeof text, format, &local) ? text : "";
}

bool IsLogName(const std::string& name) {
    return name.size() > 20 && name.ends_with(".log") &&
           std::all_of(name.begin(), name.begin() + 8, [](char c) { return c >= '0' && c <= '9'; }) &&
           name[8] == '-';
}

// Removes the oldest logs of `folder` so that `keep` remain.
void RemoveOldLogs(const std::string& folder, int keep) {
    DIR* listing = ::opendir(folder.c_str());
    if (!listing)
        return;
    std::vector<std::string> logs;
    while (const dirent* entry = ::readdir(listing))
        if (IsLogName(entry->d_name))
            logs.emplace_back(entry->d_name);
    ::closedir(listing);
    std::sort(logs.begin(), logs.end());
    for (size_t i = 0; i + static_cast<size_t>(keep) < logs.size(); ++i)
        ::unlink((folder + logs[i]).c_str());
}

// Every line of `text`, indented, each with a line end.
std::string Indented(const std::string& text) {
    std::string out;
    for (const std::string& line : platform::SplitLines(text))
        out += "    " + line + "\n";
    return out;
}

std::string HowItEnded(const platform::ProcessOutcome& outcome) {
    if (!outcome.started)
        return "not started: " + failure::SystemText(outcome.startError);
    if (!outcome.exited)
        return "ended by signal " + std::to_string(outcome.signal);
    return "exit code " + std::to_string(outcome.exitCode);
}

} // namespace

std::string SecondsText(std::chrono::steady_clock::duration took) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", std::chrono::duration<double>(took).count());
    return text;
}

OperationLog::OperationLog(const std::string& folder, const std::string& operation,
                           const std::string& version)
    : start_(std::chrono::steady_clock::now()) {
    if (folder.empty())
        return;
    std::string dir = folder.back() == '/' ? folder : folder + "/";
    // Each missing level is made for the user alone; a failure shows when the file is created.
    ::mkdir(dir.substr(0, dir.find_last_of('/', dir.size() - 2) + 1).c_str(), 0700);
    ::mkdir(dir.c_str(), 0700);
    const std::string stem = dir + LocalTimeStamp("%Y%m%d-%H%M%S") + "-" + operation;
    for (int attempt = 1; attempt <= 9 && !file_.Valid(); ++attempt) {
        const std::string path = stem + (attempt == 1 ? "" : "-" + std::to_string(attempt)) + ".log";
        file_.Reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (file_.Valid())
            path_ = path;
        else if (errno != EEXIST)
            break;
    }
    if (!file_.Valid())
        return;
    RemoveOldLogs(dir, kKept);
    Write("VornelU盘装机 " + version + ": " + operation + ", " + LocalTimeStamp("%Y-%m-%d %H:%M:%S %z") +
          "\n");
}

void OperationLog::Line(const std::string& text) {
    LineAt(std::chrono::steady_clock::now(), text);
}

void OperationLog::LineAt(std::chrono::steady_clock::time_point when, const std::string& text) {
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "[%9.3f] ", std::chrono::duration<double>(when - start_).count());
    Write(elapsed + text + "\n");
}

void OperationLog::Drive(const std::string& listLine, const std::string& device, const std::string& model,
                         std::int64_t bytes) {
    Line("drive: " + listLine);
    Write(Indented("device: " + (device.empty() ? "(unknown)" : device) + "\nmodel: " +
                   (model.empty() ? "(unknown)" : model) + "\nsize: " + std::to_string(bytes) + " bytes"));
}

void OperationLog::Command(const std::string& commandLine, const platform::ProcessOutcome& outcome,
                           std::chrono::steady_clock::duration took) {
    LineAt(std::chrono::steady_clock::now() - took, "command: " + commandLine);
    Write(Indented(HowItEnded(outcome) + ", after " + SecondsText(took)));
    if (!outcome.standardOutput.empty())
        Write("  standard output:\n" + Indented(outcome.standardOutput));
    if (!outcome.standardError.empty())
        Write("  standard error:\n" + Indented(outcome.standardError));
}

void OperationLog::Failed(const failure::Failure& failure, const std::string& shown) {
    Line(std::string("failed: ") + failure::KindName(failure.kind) + ": " + failure.what());
    Write("  the user was shown:\n" + Indented(shown));
}

void OperationLog::Write(const std::string& text) {
    // A log that stops taking lines (a full disk) is given up; the operation goes on.
    if (file_.Valid() && platform::WriteAll(file_.Get(), text.data(), text.size()).bytes != text.size())
        file_.Reset();
}

} // namespace vornel::builder
