// Damaged packages: every single-byte corruption and every truncation of a small valid package must
// end in a failure code or one of the documented errors, and never write outside the destination.

#include "package/PackageBytes.h"
#include "package/u_Package.h"
#include "platform/Files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

using namespace vornel::package;
using namespace vornel::test;
namespace fs = std::filesystem;

namespace {

std::string SmallPackage() {
    return BuildPackage({{"fbinst.exe", Noise(300), 0x21},
                         {"boot\\\xd6\xd0\\menu.lst", "title a\nchainloader +1\n"},
                         {"filelist", ""}});
}

class RobustnessTest : public ::testing::Test {
  protected:
    TempDir dir{true};
    std::string file = (dir.path / "Data.Vn").string();
    fs::path dest = dir.path / "work";

    // Extracts `bytes` and returns the result, or a code for the error it raised.
    std::int32_t Extract(const std::string& bytes) {
        fs::remove_all(dest);
        WriteAll(file, bytes);
        TFDPackage package;
        package.FreeSpace = [](const std::string&) { return std::int64_t{1} << 40; };
        try {
            return package.ExtractAll(file, dest.string());
        } catch (const ECompressionError&) {
            return kCompression;
        } catch (const vornel::platform::EFCreateError&) {
            return kCreate;
        }
    }

    // Nothing but the package and the destination may exist beside it.
    void ExpectNothingOutside(const std::string& context) {
        for (const auto& item : fs::directory_iterator(dir.path))
            EXPECT_TRUE(item.path() == dest || item.path() == file) << context << ": " << item.path();
        if (!fs::exists(dest))
            return;
        for (const auto& item : fs::recursive_directory_iterator(dest))
            EXPECT_FALSE(item.is_symlink()) << context;
    }

    static constexpr std::int32_t kCompression = -1000;
    static constexpr std::int32_t kCreate = -1001;
};

} // namespace

TEST_F(RobustnessTest, EverySingleByteCorruptionFailsCleanlyOrExtracts) {
    const std::string good = SmallPackage();
    ASSERT_EQ(Extract(good), 3);
    // A count lowered by the damage still lists a valid package with fewer entries.
    const std::set<std::int32_t> allowed = {0,
                                            1,
                                            2,
                                            3,
                                            kMissingFile,
                                            kBadMagic,
                                            kBadVersion,
                                            kBadDataSize,
                                            kSizeMismatch,
                                            kBadEntry,
                                            kNoSpace,
                                            kBadName,
                                            kCompression,
                                            kCreate};
    for (std::size_t at = 0; at < good.size(); ++at) {
        for (unsigned char value : {0x00, 0xFF, 0x5C, 0x2E, 0x2F, 0x3A, 0x80}) {
            std::string bad = good;
            bad[at] = static_cast<char>(value == 0x80 ? bad[at] ^ 0x80 : value);
            if (bad == good)
                continue;
            const std::string context = "byte " + std::to_string(at) + " = " + std::to_string(value);
            const std::int32_t result = Extract(bad);
            EXPECT_TRUE(allowed.contains(result)) << context << " gave " << result;
            ExpectNothingOutside(context);
        }
    }
}

TEST_F(RobustnessTest, EveryTruncationIsRefused) {
    const std::string good = SmallPackage();
    for (std::size_t length = 0; length < good.size(); ++length) {
        std::string cut = good.substr(0, length);
        EXPECT_LT(Extract(cut), 0) << length;
        // The same cut with a header that claims exactly the bytes left.
        if (length >= 23) {
            PutInt64(cut, kDataSizeAt, static_cast<std::int64_t>(length) - 23);
            EXPECT_LT(Extract(cut), 0) << length << " with a matching data size";
        }
        ExpectNothingOutside("length " + std::to_string(length));
    }
}
