#include "drives/DiskModel.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace vornel::drives;
using vornel::platform::DeviceIdentity;

namespace {

// The bytes of a mounted-device value: the text in UTF-16 little-endian.
std::string Utf16(std::string_view text) {
    std::string bytes;
    for (char c : text) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

const std::string kUsbStickPath = "\\??\\USBSTOR#Disk&Ven_Generic&Prod_Flash_Disk&Rev_8.07#0123456789&0#{"
                                  "53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

class IdentityQueries : public vornel::platform::DriveQueries {
  public:
    std::uint32_t LogicalDrives() override { return 0; }
    bool IsRemovable(char) override { return false; }
    std::optional<std::string> VolumeLabel(char) override { return std::nullopt; }
    std::optional<std::int64_t> TotalBytes(char) override { return std::nullopt; }
    std::optional<DeviceIdentity> Identity(char letter) override {
        askedLetter = letter;
        return identity;
    }
    std::optional<DeviceIdentity> identity;
    char askedLetter = 0;
};

} // namespace

TEST(ModelFromMountedDevice, UsbStickPathGivesVendorAndProduct) {
    EXPECT_EQ(ModelFromMountedDevice(Utf16(kUsbStickPath)), "Generic Flash_Disk");
    EXPECT_EQ(MountedDeviceValueName('g'), "\\DosDevices\\G:");
    EXPECT_EQ(MountedDeviceValueName('H'), "\\DosDevices\\H:");
}

TEST(ModelFromMountedDevice, MissingOrShortValues) {
    EXPECT_EQ(ModelFromMountedDevice(std::nullopt), "");
    EXPECT_EQ(ModelFromMountedDevice(std::string()), "");
    // One or two non-zero bytes leave nothing once the last two characters are dropped.
    EXPECT_EQ(ModelFromMountedDevice(std::string("A")), " ");
    EXPECT_EQ(ModelFromMountedDevice(Utf16("AB")), " ");
    EXPECT_EQ(ModelFromMountedDevice(std::string(8, '\0')), " ");
    // A volume GUID value (a signature and an offset) holds no names at all.
    EXPECT_EQ(ModelFromMountedDevice(std::string("\x12\x34\x56\x78\x00\x7e\x00\x00\x00\x00\x00\x00", 12)),
              " ");
}

TEST(ModelFromMountedDevice, ElementRules) {
    struct Case {
        std::string path; // the last two characters are dropped before splitting
        std::string model;
    } cases[] = {
        {"X&Ven_&Prod_X&Rev_1#xx", " X"},
        {"X&Ven_A&Ven_B&Prod_P&Rev_1#xx", "B P"},             // a later element replaces an earlier one
        {"X&VEN_Generic&Prod_P&Rev_1#xx", " P"},              // case-sensitive
        {"X&Ven&Prod&Rev_1#xx", " "},                         // too short to hold a name
        {"X&VenXGeneric&ProdYDisk&Rev_1#xx", "Generic Disk"}, // the separator is not compared
        {"X&&Ven_A&&Prod_B&&xx", "A B"},                      // empty elements between doubled "&"
        {"X&Ven_Two Words&Prod_P&xx", "Two P"},               // a blank ends an element
        {"X&\"Ven_A&B\"&Prod_P&xx", "A&B P"},                 // a leading quote quotes up to the next one
        {"X&Prod_P&Ven_Gen", "G P"},                          // the cut end still counts
        {"X&Prod_P&Ven_G", " P"},                             // ... unless it is cut too short
        {"Ven_A&Prod_B&xx", "A B"},                           // a final "&" gives a last empty element
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(ModelFromMountedDevice(Utf16(c.path)), c.model);
    }
}

TEST(ModelFromMountedDevice, CharactersOutsideAsciiContributeTheirNonZeroBytes) {
    // U+00E9 is the bytes E9 00: one character 0xE9. U+4E2D is 2D 4E: two characters.
    std::string bytes = Utf16("X&Ven_") + std::string("\xE9\x00\x2D\x4E", 4) + Utf16("&Prod_P&xx");
    EXPECT_EQ(ModelFromMountedDevice(bytes), "\xE9\x2D\x4E P");
}

TEST(GetDiskModel, VendorAndProductWithSpacesUnderscored) {
    IdentityQueries queries;
    queries.identity = DeviceIdentity{"Generic", "Flash Disk"};
    EXPECT_EQ(GetDiskModel(queries, 'g'), "Generic Flash_Disk");
    EXPECT_EQ(queries.askedLetter, 'G');
    queries.identity = DeviceIdentity{"", "STORAGE DEVICE "};
    EXPECT_EQ(GetDiskModel(queries, 'H'), " STORAGE_DEVICE_");
    queries.identity = DeviceIdentity{"Vornel", ""};
    EXPECT_EQ(GetDiskModel(queries, 'H'), "Vornel ");
    queries.identity = std::nullopt;
    EXPECT_EQ(GetDiskModel(queries, 'H'), "");
}
