#include "failure/ChineseText.h"

#include <cerrno>

namespace vornel::failure {

namespace {

constexpr std::int64_t kMiB = 1048576;

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string TooLarge(const std::string& file) {
    return "文件:" + file + " 太大（4GB或以上）！U盘启动区的FAT文件系统不能存放4GB或以上的文件，";
}

std::string PathMisfit(const std::string& path) {
    return "文件:" + path + " 的路径含有双引号（\"）或以反斜杠（\\）结尾，磁盘工具的命令行无法传递它！";
}

// What the errno says, or the failure's own words when there is none.
std::string Reason(const Failure& f) {
    return f.code != 0 ? SystemReason(f.code) : f.reason;
}

std::string ToolCause(const Failure& f) {
    std::string cause;
    switch (f.toolEnd) {
    case ToolEnd::NotStarted:
        cause = "无法启动磁盘工具 fbinst.exe";
        break;
    case ToolEnd::Signal:
        cause = "磁盘工具 fbinst.exe 被信号 " + std::to_string(f.code) + " 中止";
        break;
    case ToolEnd::NoRights:
        cause = "磁盘工具 fbinst.exe 没有获得操作U盘的权限，错误码 " + std::to_string(f.code);
        break;
    case ToolEnd::CopyDiffers:
        cause = "从U盘读回的数据与写入的不同，这个U盘没能保存写入的数据，可能已经损坏";
        break;
    case ToolEnd::ExitCode:
        cause = "磁盘工具 fbinst.exe 返回错误码 " + std::to_string(f.code);
        break;
    }
    // The tool's last line says why.
    return f.reason.empty() ? cause : cause + "：" + f.reason;
}

std::string MiB(std::int64_t bytes) {
    return std::to_string(bytes / kMiB);
}

} // namespace

std::string ChineseText(const Failure& f) {
    const std::string& s = f.subject;
    switch (f.kind) {
    case Kind::OpenFile:
        return "无法打开文件 " + Quoted(s) + "：" + Reason(f) + "。";
    case Kind::CreateFile:
        return "无法创建文件 " + Quoted(s) + "：" + Reason(f) + "。";
    case Kind::TempFolder:
        return "无法使用临时文件夹 " + Quoted(s) + "：" +
               (f.code != 0 ? SystemReason(f.code) : "它不是当前用户专用的文件夹，请删除它后重试") + "。";
    case Kind::PackageMissing:
        return "数据包 " + s + " 丢失！请重新安装！";
    case Kind::PackageDamaged:
        return "数据包 " + f.place + " 已损坏（" + (s.empty() ? "" : "文件 " + s + "，") + "错误码 " +
               std::to_string(f.code) + "）！请重新安装！";
    case Kind::DamagedData:
        return "数据包" + (f.place.empty() ? "" : " " + f.place + " ") + "中的文件 " + s +
               " 已损坏（压缩数据有误：" + f.reason + "）！请重新安装！";
    case Kind::DecompressorFailed:
        return "无法启动解压程序（" + f.reason + "）！";
    case Kind::NoRoomToExtract:
        return "临时文件夹 " + s + " 已满，无法解压数据包！请清理磁盘空间后重试。" +
               (f.needed > 0
                    ? "\r需要 " + MiB(f.needed + kMiB - 1) + " MB，只有 " + MiB(f.available) + " MB。"
                    : std::string());
    case Kind::ToolNotInPackage:
        return "数据包 " + s + " 中没有磁盘工具 fbinst.exe，无法还原U盘空间！请重新安装！";
    case Kind::NoDrive:
        return "没有发现U盘，请确认U盘是否已插入！";
    case Kind::NotRemovable:
        return "磁盘：" + s + " 不是有效的可移动磁盘！";
    case Kind::WorkFolder:
        return "无法创建空的临时文件夹 " + s + "（" + Reason(f) + "）！请删除它后重试。";
    case Kind::ListFileMissing:
        return "列表文件丢失！请重新安装！";
    case Kind::ListedFileMissing:
        return "文件:" + s + " 丢失！请重新安装！";
    case Kind::ListedPathOutside:
        return "文件:" + s + " 的路径指向临时文件夹以外，数据包已损坏！请重新安装！";
    case Kind::ListedFileTooLarge:
        return TooLarge(s) + "请重新安装！";
    case Kind::ImageMissing:
        return "文件:" + s + " 不存在！请检查配置！";
    case Kind::ImagePathMisfit:
        return PathMisfit(s) + "请检查配置！";
    case Kind::ImagePathRefused:
        return PathMisfit(s) + "请把文件改名或移到其他文件夹后再添加。";
    case Kind::ImageTooLarge:
        return TooLarge(s) + "只有ISO镜像才能放进U盘上自己的分区，请检查配置！";
    case Kind::TooManyLargeImages:
        return "文件:" + s +
               " 是第三个4GB或以上的镜像！这样的镜像每个要占用U盘上的一个分区，U盘的分区表只能再放两个，请检"
               "查配置！";
    case Kind::StickTooSmall:
        return "磁盘空间不足，无法制作启动盘！\r至少需要 " + MiB(f.needed) + " MB 的U盘，这个U盘只有 " +
               MiB(f.available) + " MB。";
    case Kind::MakeCommandFailed:
        return "制作失败：" + s + "时出错（" + ToolCause(f) +
               "）。U盘上的启动系统不完整，请检查U盘后重新制作。临时文件保留在 " + f.place;
    case Kind::RestoreCommandFailed:
        return "还原失败：" + s + "时出错（" + ToolCause(f) +
               "）。U盘可能无法使用，请检查U盘后重试。临时文件保留在 " + f.place;
    case Kind::FakeCapacity:
        return "容量检测失败：这个U盘报告的容量是 " + MiB(f.available) +
               " MB，但它实际的容量比这小，写到后面的数据会丢失或覆盖前面的数据。这是虚标容量的U盘，"
               "不能用来制作启动盘，也不要用它保存数据！\r制作已停止，U盘没有被格式化。";
    }
    return f.what();
}

std::string UserText(const std::exception& error) {
    if (const auto* failure = dynamic_cast<const Failure*>(&error))
        return ChineseText(*failure);
    return error.what();
}

std::string SystemReason(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return "没有权限";
    case EROFS:
        return "所在的文件系统只能读取";
    case ENOSPC:
        return "磁盘已满";
    case EDQUOT:
        return "超出了磁盘配额";
    case EFBIG:
        return "文件太大";
    case ENOENT:
        return "文件或它所在的文件夹不存在";
    case EISDIR:
        return "这是一个文件夹";
    case ENOTDIR:
        return "路径中有一项不是文件夹";
    case EIO:
        return "读写出错";
    case EBUSY:
        return "正被占用";
    case ENAMETOOLONG:
        return "名字太长";
    case ENOMEM:
        return "内存不足";
    default:
        return SystemText(error) + "（错误码 " + std::to_string(error) + "）";
    }
}

std::string WithLogPlace(const std::string& message, const std::string& logPath) {
    return logPath.empty() ? message : message + "\r详细记录见日志文件 " + logPath;
}

} // namespace vornel::failure
