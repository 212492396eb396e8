#pragma once
// Disk image files that stand in for removable drives: "G=/path/a.img;H=/path/b.img".

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vornel::platform {

// 0 for 'A' or 'a' up to 25 for 'Z' or 'z'; -1 for any other character.
int DriveLetterIndex(char letter);

struct ImageDrive {
    char letter = 0; // 'A' to 'Z'
    std::string path;
};

struct ImageDriveList {
    std::vector<ImageDrive> drives;
    // Bit i: the letter 'A' + i was named by an entry, usable or not. A real disk on such a
    // letter is never shown, so the letter cannot silently mean a disk the user did not name.
    std::uint32_t claimedLetters = 0;
    // One readable sentence per entry that was skipped.
    std::vector<std::string> problems;
};

// Reads the list; an entry is usable when its letter is one of A-Z (either case), its path is
// absolute and names an existing regular file, and no other entry names the same letter.
ImageDriveList ReadImageDrives(std::string_view text);

// Writes each problem to stderr the first time this process meets it, so the scan that runs
// every two seconds does not repeat itself.
void ReportImageDriveProblems(const std::vector<std::string>& problems);

} // namespace vornel::platform
