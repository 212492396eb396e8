#include "platform/ImageDrives.h"

#include <array>
#include <iostream>
#include <mutex>
#include <set>
#include <sys/stat.h>

namespace vornel::platform {

namespace {

std::vector<std::string_view> SplitEntries(std::string_view text) {
    std::vector<std::string_view> entries;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string_view::npos)
            end = text.size();
        if (end > start)
            entries.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return entries;
}

std::string Problem(std::string_view entry, const std::string& why) {
    return "VORNEL_DRIVES: entry \"" + std::string(entry) + "\" skipped: " + why;
}

// Empty when the path can back a drive, else why not.
std::string PathProblem(const std::string& path) {
    if (path.empty() || path[0] != '/')
        return "the image path must be absolute";
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return "the image file does not exist";
    if (!S_ISREG(st.st_mode))
        return "the image path is not a regular file";
    return {};
}

} // namespace

int DriveLetterIndex(char letter) {
    if (letter >= 'a' && letter <= 'z')
        return letter - 'a';
    if (letter >= 'A' && letter <= 'Z')
        return letter - 'A';
    return -1;
}

ImageDriveList ReadImageDrives(std::string_view text) {
    ImageDriveList list;
    std::array<int, 26> entriesPerLetter{};
    struct Candidate {
        std::string_view entry;
        int letter;
        std::string path;
    };
    std::vector<Candidate> candidates;

    for (std::string_view entry : SplitEntries(text)) {
        size_t equals = entry.find('=');
        if (equals == std::string_view::npos) {
            list.problems.push_back(Problem(entry, "expected LETTER=/path/to/image"));
            continue;
        }
        int letter = equals == 1 ? DriveLetterIndex(entry[0]) : -1;
        if (letter < 0) {
            list.problems.push_back(Problem(entry, "the drive letter must be one of A to Z"));
            continue;
        }
        list.claimedLetters |= 1u << letter;
        ++entriesPerLetter[letter];
        candidates.push_back({entry, letter, std::string(entry.substr(equals + 1))});
    }

    for (const Candidate& candidate : candidates) {
        if (entriesPerLetter[candidate.letter] > 1) {
            list.problems.push_back(Problem(candidate.entry, std::string("the letter ") +
                                                                 char('A' + candidate.letter) +
                                                                 " is named more than once"));
            continue;
        }
        std::string why = PathProblem(candidate.path);
        if (!why.empty()) {
            list.problems.push_back(Problem(candidate.entry, why));
            continue;
        }
        list.drives.push_back({char('A' + candidate.letter), candidate.path});
    }
    return list;
}

void ReportImageDriveProblems(const std::vector<std::string>& problems) {
    static std::mutex mutex;
    static std::set<std::string> reported;
    std::lock_guard lock(mutex);
    for (const std::string& problem : problems) {
        if (reported.insert(problem).second)
            std::cerr << problem << '\n';
    }
}

} // namespace vornel::platform
