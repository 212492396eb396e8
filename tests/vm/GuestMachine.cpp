#include "vm/GuestMachine.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vornel::vm {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The end of a log, enough to see why a boot failed.
std::string Tail(const std::string& text, std::size_t bytes = 4000) {
    return text.size() > bytes ? text.substr(text.size() - bytes) : text;
}

std::string SharePath(const std::string& folder) {
    return folder + "/share";
}

pid_t RecordedPid(const std::string& folder) {
    const std::string text = ReadWhole(folder + "/machine.pid");
    return text.empty() ? -1 : static_cast<pid_t>(std::atol(text.c_str()));
}

bool Alive(pid_t pid) {
    if (pid <= 0 || ::kill(pid, 0) != 0)
        return false;
    // A child of ours that ended is a zombie until reaped: reap it, it is not running.
    return ::waitpid(pid, nullptr, WNOHANG) <= 0;
}

// Writes `bytes` to `path` so that a reader never sees it half written.
void WriteWhole(const std::string& path, const std::string& bytes) {
    const std::string part = path + ".part";
    {
        std::ofstream out(part, std::ios::binary);
        out << bytes;
        if (!out.flush())
            throw GuestError("cannot write " + part);
    }
    fs::rename(part, path);
}

bool SafeName(const std::string& name) {
    if (name.empty())
        return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-')
            return false;
    return true;
}

class MonitorConnection {
  public:
    explicit MonitorConnection(const std::string& socketPath) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (socketPath.size() >= sizeof address.sun_path)
            throw GuestError("monitor socket path too long: " + socketPath);
        std::strcpy(address.sun_path, socketPath.c_str());
        if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw GuestError("cannot reach the machine's monitor " + socketPath + ": " +
                             std::strerror(errno));
        ReadToPrompt();
    }
    ~MonitorConnection() { ::close(fd_); }
    MonitorConnection(const MonitorConnection&) = delete;
    MonitorConnection& operator=(const MonitorConnection&) = delete;

    std::string Command(const std::string& command) {
        const std::string line = command + "\n";
        if (::write(fd_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
            throw GuestError("cannot write to the machine's monitor");
        std::string answer = ReadToPrompt();
        // The monitor echoes the command line first.
        if (const auto end = answer.find('\n'); end != std::string::npos)
            answer.erase(0, end + 1);
        while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r'))
            answer.pop_back();
        return answer;
    }

  private:
    std::string ReadToPrompt() {
        static const std::string kPrompt = "(qemu) ";
        std::string text;
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (text.size() < kPrompt.size() ||
               text.compare(text.size() - kPrompt.size(), kPrompt.size(), kPrompt)) {
            pollfd ready{fd_, POLLIN, 0};
            if (std::chrono::steady_clock::now() > deadline || ::poll(&ready, 1, 1000) < 0)
                throw GuestError("the machine's monitor does not answer");
            char buffer[4096];
            if (ready.revents == 0)
                continue;
            const ssize_t got = ::read(fd_, buffer, sizeof buffer);
            if (got <= 0)
                throw GuestError("the machine's monitor closed");
            text.append(buffer, static_cast<std::size_t>(got));
        }
        text.erase(text.size() - kPrompt.size());
        std::erase(text, '\r');
        return text;
    }

    int fd_ = -1;
};

std::vector<std::string> QemuArgv(const MachineSetup& setup) {
    const std::string& folder = setup.folder;
    const std::string& kit = setup.kitFolder;
    return {"timeout",
            "-k",
            "10",
            std::to_string(setup.lifetime.count()),
            "qemu-system-x86_64",
            "-accel",
            "tcg",
            "-m",
            std::to_string(setup.memoryMiB),
            "-nodefaults",
            "-display",
            "none",
            "-no-reboot",
            "-kernel",
            kit + "/vmlinuz",
            "-initrd",
            kit + "/initrd.img",
            "-append",
            "console=ttyS0 panic=-1 quiet vornel.agent=" + setup.sourceDir +
                "/tests/vm/guest/agent.sh vornel.kit=" + kit,
            "-serial",
            "file:" + folder + "/console.log",
            "-monitor",
            "unix:" + folder + "/monitor.sock,server=on,wait=off",
            "-virtfs",
            "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap",
            "-virtfs",
            "local,path=" + SharePath(folder) + ",mount_tag=share,security_model=none,multidevs=remap",
            "-device",
            "qemu-xhci,id=xhci"};
}

// Starts QEMU in a session of its own, so it outlives the process that started it.
pid_t Launch(const std::vector<std::string>& argv, const std::string& logPath) {
    std::vector<char*> pointers;
    for (const std::string& piece : argv)
        pointers.push_back(const_cast<char*>(piece.c_str()));
    pointers.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();
        const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, 0);
        ::dup2(log, 1);
        ::dup2(log, 2);
        ::execvp(pointers[0], pointers.data());
        ::_exit(127);
    }
    if (pid < 0)
        throw GuestError(std::string("cannot start qemu: ") + std::strerror(errno));
    return pid;
}

} // namespace

void StartMachine(const MachineSetup& setup) {
    StopMachine(setup.folder);
    fs::remove_all(setup.folder);
    fs::create_directories(SharePath(setup.folder) + "/jobs");
    const std::string kitLog = setup.folder + "/kit.log";
    const int kit = std::system(("sh '" + setup.sourceDir + "/tests/vm/kit/make-kit.sh' '" + setup.kitFolder +
                                 "' >'" + kitLog + "' 2>&1")
                                    .c_str());
    if (WIFEXITED(kit) && WEXITSTATUS(kit) == kNoKitExitCode)
        throw GuestKitMissing(ReadWhole(kitLog));
    if (!WIFEXITED(kit) || WEXITSTATUS(kit) != 0)
        throw GuestError("cannot make the machine's kit:\n" + ReadWhole(kitLog));

    const pid_t pid = Launch(QemuArgv(setup), setup.folder + "/qemu.log");
    WriteWhole(setup.folder + "/machine.pid", std::to_string(pid));
    const auto deadline = std::chrono::steady_clock::now() + setup.bootBound;
    while (!fs::exists(SharePath(setup.folder) + "/ready")) {
        if (!Alive(pid) || std::chrono::steady_clock::now() > deadline) {
            const std::string why = Alive(pid) ? "the machine was not ready in time" : "the machine ended";
            StopMachine(setup.folder);
            throw GuestError(why + "\n" + Tail(ReadWhole(setup.folder + "/qemu.log")) + "\nconsole:\n" +
                             Tail(ReadWhole(setup.folder + "/console.log")));
        }
        std::this_thread::sleep_for(200ms);
    }
}

void StopMachine(const std::string& folder) {
    const pid_t pid = RecordedPid(folder);
    if (!Alive(pid))
        return;
    try {
        MonitorConnection(folder + "/monitor.sock").Command("quit");
    } catch (const GuestError&) {
        // Killed below.
    }
    for (int tick = 0; tick < 100 && Alive(pid); ++tick)
        std::this_thread::sleep_for(100ms);
    if (Alive(pid))
        ::kill(-pid, SIGKILL); // its session: the time-out and QEMU
    fs::remove(folder + "/machine.pid");
}

GuestMachine::GuestMachine(std::string folder) : folder_(std::move(folder)) {}

GuestRun GuestMachine::Run(const std::string& script, std::chrono::seconds bound) const {
    static std::atomic<unsigned> counter{0};
    const std::string job = SharePath(folder_) + "/jobs/" + std::to_string(::getpid()) + "-" +
                            std::to_string(counter++) + "-" +
                            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    WriteWhole(job + ".sh", script);
    WriteWhole(job + ".job", std::to_string(bound.count()));
    // The agent bounds the script itself; this bound only covers a machine that stopped answering.
    const auto deadline = std::chrono::steady_clock::now() + bound + 30s;
    while (!fs::exists(job + ".rc")) {
        if (!Alive(RecordedPid(folder_)))
            throw GuestError("the machine is not running\n" + Tail(Console()));
        if (std::chrono::steady_clock::now() > deadline)
            throw GuestError("the machine's agent does not answer\n" + Tail(Console()));
        std::this_thread::sleep_for(200ms);
    }
    return {std::atoi(ReadWhole(job + ".rc").c_str()), ReadWhole(job + ".out")};
}

std::string GuestMachine::Monitor(const std::string& command) const {
    return MonitorConnection(folder_ + "/monitor.sock").Command(command);
}

void GuestMachine::Plug(const std::string& name, const std::string& image,
                        const std::string& driveOptions) const {
    if (!SafeName(name) || image.find_first_of(", ") != std::string::npos)
        throw GuestError("a stick needs a plain name and an image path without commas or blanks");
    MonitorConnection monitor(folder_ + "/monitor.sock");
    const std::string added = monitor.Command("drive_add 0 if=none,id=" + name + ",format=raw,file=" + image +
                                              (driveOptions.empty() ? "" : "," + driveOptions));
    if (added != "OK")
        throw GuestError("QEMU refused the stick's drive: " + added);
    const std::string plugged =
        monitor.Command("device_add usb-storage,bus=xhci.0,removable=on,drive=" + name + ",id=usb-" + name +
                        ",serial=" + name);
    if (!plugged.empty())
        throw GuestError("QEMU refused the stick: " + plugged);
}

void GuestMachine::Unplug(const std::string& name) const {
    MonitorConnection monitor(folder_ + "/monitor.sock");
    const std::string answer = monitor.Command("device_del usb-" + name);
    if (!answer.empty())
        throw GuestError("QEMU cannot pull the stick out: " + answer);
    // The drive goes with its device, and QEMU closes the image file then.
    for (int tick = 0; tick < 300; ++tick) {
        if (monitor.Command("info block " + name).find(name + " (") == std::string::npos)
            return;
        std::this_thread::sleep_for(100ms);
    }
    throw GuestError("the stick " + name + " was not pulled out within 30 s");
}

std::string GuestMachine::Console() const {
    return ReadWhole(folder_ + "/console.log");
}

} // namespace vornel::vm
