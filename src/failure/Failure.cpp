#include "failure/Failure.h"

#include <cstring>
#include <iterator>

namespace vornel::failure {

namespace {

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string Sizes(std::int64_t needed, std::int64_t available) {
    if (needed == 0 && available == 0)
        return {};
    return " (" + std::to_string(needed) + " bytes needed, " + std::to_string(available) + " available)";
}

std::string ToolEndText(ToolEnd end, int code) {
    switch (end) {
    case ToolEnd::NotStarted:
        return "it could not be started: " + SystemText(code);
    case ToolEnd::Signal:
        return "it was ended by signal " + std::to_string(code);
    case ToolEnd::NoRights:
        return "it got no rights on the drive, exit code " + std::to_string(code);
    case ToolEnd::CopyDiffers:
        return "the copy read back from the drive differs, exit code " + std::to_string(code);
    case ToolEnd::ExitCode:
        break;
    }
    return "exit code " + std::to_string(code);
}

std::string English(const Failure& f) {
    const std::string because = f.reason.empty() ? "" : ": " + f.reason;
    switch (f.kind) {
    case Kind::OpenFile:
        return "Cannot open file " + Quoted(f.subject) + ". " + f.reason;
    case Kind::CreateFile:
        return "Cannot create file " + Quoted(f.subject) + ". " + f.reason;
    case Kind::TempFolder:
        return "Cannot use the temporary folder " + Quoted(f.subject) + because;
    case Kind::PackageMissing:
        return "The package " + Quoted(f.subject) + " does not exist or is shorter than 23 bytes";
    case Kind::PackageDamaged:
        return "The package " + Quoted(f.place) + " is damaged (result " + std::to_string(f.code) +
               (f.subject.empty() ? "" : ", entry " + Quoted(f.subject)) + ")";
    case Kind::DamagedData:
        return "Damaged compressed data in the package entry " + Quoted(f.subject) + because;
    case Kind::DecompressorFailed:
        return "The decompressor cannot start" + because;
    case Kind::NoRoomToExtract:
        return "Not enough free space to extract into " + Quoted(f.subject) + Sizes(f.needed, f.available);
    case Kind::FakeCapacity:
        return "The drive " + Quoted(f.subject) + " keeps less than the " + std::to_string(f.available) +
               " bytes it reports: the disk tool's capacity check failed" + because;
    case Kind::MakeCommandFailed:
    case Kind::RestoreCommandFailed:
        return "The disk tool failed at the step " + Quoted(f.subject) + " (" +
               ToolEndText(f.toolEnd, f.code) + ")" + because;
    default:
        break;
    }
    // The operations' own refusals: their name and what they refused.
    return std::string(KindName(f.kind)) + (f.subject.empty() ? "" : ": " + Quoted(f.subject)) +
           Sizes(f.needed, f.available) + because;
}

} // namespace

Failure::Failure(Kind kind, std::string subject, int code, std::string reason, std::string place)
    : std::runtime_error(""), kind(kind), subject(std::move(subject)), code(code), reason(std::move(reason)),
      place(std::move(place)), english_(English(*this)) {}

Failure::Failure(Kind kind, std::string subject, std::int64_t needed, std::int64_t available)
    : std::runtime_error(""), kind(kind), subject(std::move(subject)), needed(needed), available(available),
      english_(English(*this)) {}

Failure::Failure(Kind kind, std::string step, ToolEnd toolEnd, int code, std::string lastLine,
                 std::string workFolder)
    : std::runtime_error(""), kind(kind), subject(std::move(step)), code(code), reason(std::move(lastLine)),
      place(std::move(workFolder)), toolEnd(toolEnd), english_(English(*this)) {}

const char* KindName(Kind kind) {
    // In the order of Kind.
    static constexpr const char* kNames[] = {
        "OpenFile",           "CreateFile",        "TempFolder",         "PackageMissing",
        "PackageDamaged",     "DamagedData",       "DecompressorFailed", "NoRoomToExtract",
        "ToolNotInPackage",   "NoDrive",           "NotRemovable",       "WorkFolder",
        "ListFileMissing",    "ListedFileMissing", "ListedPathOutside",  "ListedFileTooLarge",
        "ImageMissing",       "ImagePathMisfit",   "ImagePathRefused",   "ImageTooLarge",
        "TooManyLargeImages", "StickTooSmall",     "MakeCommandFailed",  "RestoreCommandFailed",
        "FakeCapacity"};
    static_assert(std::size(kNames) == static_cast<std::size_t>(Kind::FakeCapacity) + 1);
    return kNames[static_cast<std::size_t>(kind)];
}

std::string SystemText(int error) {
    return std::strerror(error);
}

} // namespace vornel::failure
