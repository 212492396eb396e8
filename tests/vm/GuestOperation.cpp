// vm_operation: the make or the restore operation, run in the test machine exactly as the main
// window runs it (builder::MakeBootDisk or RestoreSpace, with the system's drive list, the
// command runner and the temporary folder), the first drive of the list selected, every
// confirmation answered Yes and every message printed.
//
//   vm_operation make|restore DATA_FOLDER [PASSWORD]
//
// With PASSWORD, an authentication agent (pkttyagent, on a terminal of its own) is registered
// for this process first, as a desktop session has one, and answers each password prompt with
// PASSWORD; the prompts are counted. Prints "drive: LINE" for each line of the drive list,
// "confirm: TEXT", "message: TEXT" and, with an agent, "password prompts: N"; the disk tool's
// own lines come on stderr as they come. Exits 0 when the operation reported its success.

#include "builder/Operations.h"
#include "drives/DriveList.h"
#include "platform/Files.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <iostream>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace vornel;

class ConsoleHost final : public builder::OperationHost {
  public:
    explicit ConsoleHost(std::string driveLine) : driveLine_(std::move(driveLine)) {}
    std::string SelectedDriveText() override { return driveLine_; }
    bool ZipModeSelected() override { return false; }
    void SetBusy(bool) override {}
    void ShowMessage(const std::string& text) override {
        std::cout << "message: " << text << std::endl;
        lastMessage_ = text;
    }
    bool ConfirmWarning(const std::string& text) override {
        std::cout << "confirm: " << text << std::endl;
        return true;
    }
    void ProcessEvents() override {}
    void Terminate() override { std::cout << "terminate" << std::endl; }
    const std::string& LastMessage() const { return lastMessage_; }

  private:
    std::string driveLine_;
    std::string lastMessage_;
};

// pkttyagent registered for this process, on a pseudo-terminal this program types into.
class PasswordAgent {
  public:
    explicit PasswordAgent(const std::string& password) : password_(password) {
        int registered[2];
        if (::pipe(registered) != 0)
            throw std::runtime_error("cannot make a pipe");
        const std::string self = std::to_string(::getpid());
        pid_ = ::forkpty(&terminal_, nullptr, nullptr, nullptr);
        if (pid_ == 0) {
            ::close(registered[0]);
            const std::string notify = "--notify-fd=" + std::to_string(registered[1]);
            ::execlp("pkttyagent", "pkttyagent", "--process", self.c_str(), notify.c_str(), nullptr);
            ::_exit(127);
        }
        ::close(registered[1]);
        if (pid_ < 0)
            throw std::runtime_error("cannot start pkttyagent");
        // The agent closes its end once polkit has it; the pipe then reads as ended.
        char byte;
        while (::read(registered[0], &byte, 1) > 0) {
        }
        ::close(registered[0]);
        reader_ = std::thread([this] { Serve(); });
    }
    ~PasswordAgent() { Finish(); }
    // Ends the agent; what it wrote is complete then.
    void Finish() {
        if (pid_ < 0)
            return;
        stop_ = true;
        reader_.join();
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        ::close(terminal_);
        pid_ = -1;
    }
    int Prompts() const { return prompts_; }
    const std::string& Transcript() const { return transcript_; }

  private:
    // Types the password after each prompt; what the agent wrote is kept.
    void Serve() {
        std::size_t answered = 0;
        while (!stop_) {
            pollfd ready{terminal_, POLLIN, 0};
            if (::poll(&ready, 1, 100) <= 0 || !(ready.revents & POLLIN))
                continue;
            char buffer[1024];
            const ssize_t got = ::read(terminal_, buffer, sizeof buffer);
            if (got <= 0)
                return;
            transcript_.append(buffer, static_cast<std::size_t>(got));
            for (std::size_t at = transcript_.find("Password:", answered); at != std::string::npos;
                 at = transcript_.find("Password:", answered)) {
                answered = at + 1;
                ++prompts_;
                WaitForEchoOff();
                const std::string line = password_ + "\n";
                if (::write(terminal_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
                    return;
            }
        }
    }

    // The agent turns echo off before it reads the password, and that throws away what was typed
    // before: type only once it is off.
    void WaitForEchoOff() const {
        for (int tick = 0; tick < 1000 && !stop_; ++tick) {
            termios settings{};
            if (::tcgetattr(terminal_, &settings) == 0 && !(settings.c_lflag & ECHO))
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    std::string password_;
    int terminal_ = -1;
    pid_t pid_ = -1;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    std::atomic<int> prompts_{0};
    std::string transcript_;
};

int Run(const std::string& operation, const std::string& dataFolder,
        const std::optional<std::string>& password) {
    std::optional<PasswordAgent> agent;
    if (password)
        agent.emplace(*password);
    const auto drives = platform::CreateLinuxDriveQueries(platform::SystemDriveSources());
    const drives::DriveListItems list = drives::ScanDriveList(*drives, {}, 0);
    for (const std::string& line : list.items)
        std::cout << "drive: " << line << std::endl;
    ConsoleHost host(list.items.at(static_cast<std::size_t>(list.selectedIndex)));
    // The log lands where the window's would, so a failed case can be read back from the guest.
    const builder::OperationEnvironment environment{dataFolder,
                                                    platform::TempPath,
                                                    drives.get(),
                                                    builder::RunAndWait,
                                                    platform::UserFolder("XDG_CACHE_HOME", ".cache") +
                                                        "/vornel/",
                                                    VORNEL_VERSION};
    const bool make = operation == "make";
    if (make)
        builder::MakeBootDisk(host, environment);
    else
        builder::RestoreSpace(host, environment);
    if (agent) {
        agent->Finish();
        std::cout << "agent: " << agent->Transcript() << "\npassword prompts: " << agent->Prompts()
                  << std::endl;
    }
    return host.LastMessage() == (make ? "恭喜你，制作完成！" : " U盘空间已还原！") ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if ((args.size() != 2 && args.size() != 3) || (args[0] != "make" && args[0] != "restore")) {
        std::cerr << "usage: vm_operation make|restore DATA_FOLDER [PASSWORD]\n";
        return 2;
    }
    try {
        return Run(args[0], args[1], args.size() == 3 ? std::optional<std::string>(args[2]) : std::nullopt);
    } catch (const std::exception& error) {
        std::cerr << "vm_operation: " << error.what() << "\n";
        return 1;
    }
}
