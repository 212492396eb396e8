#include "install/ProgramRun.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace vornel::test {

using namespace std::chrono_literals;

pid_t StartProgram(const ProgramRun& run) {
    std::vector<std::string> argv(run.argv);
    std::vector<std::string> environment(run.extraEnvironment);
    for (char** entry = environ; *entry; ++entry)
        environment.emplace_back(*entry);
    std::vector<char*> args, envs;
    for (auto& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    for (auto& e : environment)
        envs.push_back(e.data());
    envs.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    if (!run.stdoutFile.empty())
        posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, run.stdoutFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t child = 0;
    const int error = posix_spawnp(&child, args[0], &files, &attributes, args.data(), envs.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    return error == 0 ? child : -1;
}

int RunProgram(const ProgramRun& run) {
    const pid_t child = StartProgram(run);
    if (child < 0)
        return -1;
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int WaitForExit(pid_t program, std::chrono::milliseconds bound) {
    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    while (waitpid(program, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() - start > bound)
            return -1;
        std::this_thread::sleep_for(50ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void StopProgram(pid_t program) {
    kill(-program, SIGTERM);
    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    while (waitpid(program, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() - start > 10s) {
            kill(-program, SIGKILL);
            waitpid(program, &status, 0);
            break;
        }
        std::this_thread::sleep_for(50ms);
    }
    kill(-program, SIGKILL); // helpers the program left behind
}

std::string PrivateRuntimeFolder() {
    char name[] = "/tmp/vornel-run-XXXXXX"; // mkdtemp makes it mode 0700
    if (!mkdtemp(name))
        throw std::runtime_error("mkdtemp failed");
    return name;
}

} // namespace vornel::test
