#include "app/CommandLine.h"

#include "app/Application.h"

#include <string_view>

namespace vornel::app {

CommandLineRequest ReadCommandLine(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == "--help" || argument == "-h" || argument == "-?")
            return CommandLineRequest::Help;
        if (argument == "--version" || argument == "-v")
            return CommandLineRequest::Version;
    }
    return CommandLineRequest::Run;
}

std::string HelpText() {
    return "用法：vornel [选项]\n"
           "一键制作U盘启动盘。同一时间只运行一个窗口：再次启动会把已打开的窗口带到前面。\n"
           "\n"
           "选项：\n"
           "  -h, --help       显示本帮助并退出\n"
           "  -v, --version    显示版本并退出\n"
           "\n"
           "环境变量 VORNEL_DRIVES=\"G=/路径/a.img;H=/路径/b.img\" 把磁盘映像文件作为U盘列出。\n";
}

std::string VersionText() {
    const VersionRecord& record = ProgramVersion();
    return (record.productName + QLatin1Char(' ') + record.fileVersion).toStdString() + "\n";
}

} // namespace vornel::app
