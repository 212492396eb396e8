#include "package/u_Package.h"

namespace vornel::package {

ECompressionError::ECompressionError(const std::string& entry, const std::string& reason,
                                     const std::string& packageFile)
    : failure::Failure(failure::Kind::DamagedData, entry, 0, reason, packageFile) {}

EDecompressionError::EDecompressionError(const std::string& entry, const std::string& reason)
    : failure::Failure(failure::Kind::DecompressorFailed, entry, 0, reason) {}

std::int32_t TFDPackage::Stopped(std::int32_t result, std::string entry, std::int64_t needed,
                                 std::int64_t available) {
    stop_ = {std::move(entry), needed, available};
    return result;
}

failure::Failure TFDPackage::DescribeFailure(std::int32_t result, const std::string& PackageFile,
                                             const std::string& DestDir) const {
    using failure::Kind;
    switch (result) {
    case kMissingFile:
        return failure::Failure(Kind::PackageMissing, PackageFile);
    case kNoSpace:
        return failure::Failure(Kind::NoRoomToExtract, DestDir, stop_.needed, stop_.available);
    default:
        return failure::Failure(Kind::PackageDamaged, stop_.entry, result, {}, PackageFile);
    }
}

} // namespace vornel::package
