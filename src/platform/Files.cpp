#include "platform/Files.h"

#include "platform/ReadWrite.h"
#include "platform/UniqueFd.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vornel::platform {

namespace {

bool IsPrivateFolder(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 0777) == 0700;
}

} // namespace

EFCreateError::EFCreateError(const std::string& path, int error)
    : failure::Failure(failure::Kind::CreateFile, path, error, failure::SystemText(error)) {}

EFOpenError::EFOpenError(const std::string& path, int error)
    : failure::Failure(failure::Kind::OpenFile, path, error, failure::SystemText(error)) {}

bool FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<std::int64_t> FileLength(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return static_cast<std::int64_t>(st.st_size);
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string current;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(std::move(current));
            current.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            current += c;
        }
    }
    if (!current.empty())
        lines.push_back(std::move(current));
    return lines;
}

std::vector<std::string> ReadTextLines(const std::string& path) {
    std::string text;
    if (const int error = ReadWholeFile(path, text))
        throw EFOpenError(path, error); // a folder fails its read with EISDIR
    return SplitLines(text);
}

void WriteFileAtomically(const std::string& path, const std::string& bytes) {
    std::string temp = path + ".XXXXXX";
    const UniqueFd file(::mkstemp(temp.data()));
    if (!file.Valid())
        throw EFCreateError(path, errno);
    // Keep the permissions an ordinary new file would get (mkstemp makes it 0600).
    mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat old {};
    mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : (0666 & ~mask);
    ::fchmod(file.Get(), mode);
    const IoResult written = WriteAll(file.Get(), bytes.data(), bytes.size());
    if (written.bytes != bytes.size() || ::fsync(file.Get()) != 0 ||
        ::rename(temp.c_str(), path.c_str()) != 0) {
        // A write that takes nothing without an errno is an I/O fault all the same.
        int error = written.bytes == bytes.size() ? errno : written.error != 0 ? written.error : EIO;
        ::unlink(temp.c_str());
        throw EFCreateError(path, error);
    }
}

std::string JoinLinesCrLf(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines)
        text += line + "\r\n";
    return text;
}

std::string UserFolder(const char* variable, const char* underHome) {
    if (const char* folder = std::getenv(variable); folder && folder[0] == '/')
        return folder;
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return std::string(home) + "/" + underHome;
    const passwd* user = ::getpwuid(::getuid());
    return std::string(user && user->pw_dir ? user->pw_dir : "") + "/" + underHome;
}

std::string ExecutableFolder() {
    std::error_code error;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return "./";
    std::string folder = exe.parent_path().string();
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

std::string TempPath() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/') {
        std::string folder = runtime;
        while (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        if (IsPrivateFolder(folder))
            return folder + "/";
    }
    std::string folder = "/tmp/vornel-" + std::to_string(::getuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw failure::Failure(failure::Kind::TempFolder, folder, errno, failure::SystemText(errno));
    // Another user's folder, or a link planted there: nothing may be written into it.
    if (!IsPrivateFolder(folder))
        throw failure::Failure(failure::Kind::TempFolder, folder, 0, "it is not private to this user");
    return folder + "/";
}

} // namespace vornel::platform
