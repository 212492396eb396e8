#include "Tool.h"

#include "Arguments.h"
#include "Disk.h"
#include "Failure.h"
#include "Mounts.h"
#include "Verbs.h"

#include <exception>
#include <filesystem>

namespace vornel::fbinst {

namespace {

bool Writes(Verb verb) {
    return verb == Verb::Format || verb == Verb::AddMenu || verb == Verb::Add;
}

void Execute(const Command& command, Disk& drive, std::ostream& out) {
    switch (command.verb) {
    case Verb::Format:
        if (command.restore)
            FormatRestore(drive, out);
        else
            FormatBoot(drive,
                       BootRequest{command.zipMode ? Mode::Zip : Mode::Hdd, command.align,
                                   command.primaryBytes, command.bootAreaBytes},
                       out);
        break;
    case Verb::AddMenu:
        AddMenuLine(drive, command.operands[0], command.operands[1], out);
        break;
    case Verb::Add:
        AddFile(drive, command.operands[0], command.operands[1], out);
        break;
    case Verb::Info:
        ShowInfo(drive, out);
        break;
    case Verb::List:
        ListFiles(drive, out);
        break;
    case Verb::Cat:
        CatFile(drive, command.operands[0], out);
        break;
    }
}

} // namespace

int RunFbinst(const std::vector<std::string>& args, const platform::LinuxDriveSources& sources,
              std::ostream& out, std::ostream& err) {
    try {
        const Command command = ParseCommand(args);
        std::string why;
        const auto target = platform::ResolveRemovableDrive(command.letter, sources, why);
        if (!target)
            throw Failure(std::string("drive ") + command.letter + ": is not a removable drive" +
                          (why.empty() ? "" : " (" + why + ")"));
        // An absolute path can never be taken for an option by the tools it is handed to.
        const std::string path = std::filesystem::absolute(target->path).string();
        // Opened once, checked and locked before the first write, for the whole command.
        Disk drive(path, target->isImageFile, Writes(command.verb), sources.sysfsRoot);
        if (Writes(command.verb))
            EnsureNothingMounted(drive, sources.sysfsRoot);
        drive.ClaimExclusively();
        Execute(command, drive, out);
        out.flush();
        if (!out)
            throw Failure("cannot write the output");
        return 0;
    } catch (const UsageError& e) {
        err << "fbinst: " << e.what() << "\n" << kUsage;
        return kExitUsage;
    } catch (const std::exception& e) {
        err << "fbinst: " << e.what() << "\n";
        return kExitFailure;
    }
}

} // namespace vornel::fbinst
