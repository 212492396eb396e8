#pragma once
// Names inside the boot area: "/"-separated paths from its root, each part a long FAT name.

#include <string>

namespace vornel::fbinst {

// "boot/x.img" stays, "/boot//x.img" becomes "boot/x.img". Throws Failure for a name FAT cannot
// hold exactly as given, rather than let it land on another file: empty names, "." and ".."
// parts, text that is not UTF-8, control characters, characters beyond U+FFFF, any of
// \ : * ? " < > |, a part ending in a dot or a space, a part longer than 255 bytes.
std::string CleanFatName(const std::string& name);

} // namespace vornel::fbinst
