// The carried images must fit the way the disk tool writes them: the MBR code in front of the
// partition table, the core raw from sector 1, loading itself whole from there. GRUB's Chinese
// catalogue, made beside them, must hold Debian's texts with ours over them.

#include "fbinst/loader/Shell.h"
#include "loader/Loader.h"

#include <gtest/gtest.h>

#include <cstring>

namespace vornel::fbinst::loader {
namespace {

template <typename T> T ReadLittleEndian(std::span<const std::uint8_t> bytes, std::size_t offset) {
    T value{};
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

TEST(ImagesTest, TheMbrCodeLoadsTheCoreFromSectorOne) {
    const auto mbr = MbrBootCode();
    ASSERT_EQ(mbr.size(), 440u);
    EXPECT_EQ(mbr[0], 0xEB); // a jump over the parameter block
    EXPECT_EQ(ReadLittleEndian<std::uint64_t>(mbr, 0x5C), 1u) << "sector of the core's first block";
}

TEST(ImagesTest, TheCoreLoadsItsRestFromTheSectorsThatFollow) {
    const auto core = CoreImage();
    ASSERT_GT(core.size(), 512u);
    // The last 12 bytes of the core's first sector list the block it loads next.
    const std::size_t list = 512 - 12;
    EXPECT_EQ(ReadLittleEndian<std::uint64_t>(core, list), 2u);
    const auto sectors = ReadLittleEndian<std::uint16_t>(core, list + 8);
    EXPECT_EQ(sectors, (core.size() + 511) / 512 - 1);
    // It must fit in the primary area before the first partition (8 MiB), with room to spare.
    EXPECT_LT(core.size(), 1024u * 1024u);
}

TEST(ImagesTest, TheCatalogueIsDebiansWithOursLaidOverIt) {
    const auto [catalogue, ok] = test::RunShell("msgunfmt " VORNEL_LOADER_CATALOGUE);
    ASSERT_TRUE(ok);
    EXPECT_NE(catalogue.find("msgstr \"按任意键继续...\""), std::string::npos) << "Debian's text";
    EXPECT_NE(catalogue.find("msgstr \"引导默认启动项和备用启动项均失败。\\n\""), std::string::npos);
    EXPECT_EQ(catalogue.find("会滚启动想"), std::string::npos) << "Debian's typos";
}

} // namespace
} // namespace vornel::fbinst::loader
