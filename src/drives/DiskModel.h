#pragma once
// The model text of a drive line: vendor + " " + product, for example "Generic Flash_Disk".

#include "platform/Drives.h"

#include <optional>
#include <string>
#include <string_view>

namespace vornel::drives {

// The model of the device behind the letter (either case), with the spaces inside the vendor
// and the product turned into "_"; empty when no device is found for the letter.
std::string GetDiskModel(platform::DriveQueries& queries, char letter);

// The Windows mounted-device map: the name of a letter's value, "\DosDevices\G:".
std::string MountedDeviceValueName(char letter);

// The model text cut out of a mounted-device value's raw bytes, which hold a device path such
// as "\??\USBSTOR#Disk&Ven_Generic&Prod_Flash_Disk&Rev_8.07#..." in UTF-16: vendor and product
// from its "Ven_" and "Prod_" elements. No value, or an empty one, gives an empty text.
std::string ModelFromMountedDevice(const std::optional<std::string>& value);

} // namespace vornel::drives
