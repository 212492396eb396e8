// A stand-in for the disk tool in tests: appends its arguments to the log named by
// $FAKE_FBINST_LOG (one line per call, arguments separated by "|") and exits with 0 (after
// $FAKE_FBINST_SLEEP_MS milliseconds, if set), or with the code $FAKE_FBINST_EXIT for the call numbered
// $FAKE_FBINST_FAIL_AT (counting from 1), after writing $FAKE_FBINST_ERROR to stderr. Offered the
// progress channel, it first sends $FAKE_FBINST_RECORDS there (";" between records).
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    const char* log = std::getenv("FAKE_FBINST_LOG");
    if (!log)
        return 100;
    int calls = 0;
    {
        std::ifstream in(log);
        std::string line;
        while (std::getline(in, line))
            ++calls;
    }
    std::ofstream out(log, std::ios::app);
    for (int i = 1; i < argc; ++i)
        out << (i > 1 ? "|" : "") << argv[i];
    out << "\n";
    const char* offered = std::getenv("VORNEL_PROGRESS_ON_STDIN");
    if (const char* records = std::getenv("FAKE_FBINST_RECORDS"); records && offered) {
        std::string lines = std::string(records) + ";";
        for (char& c : lines)
            c = c == ';' ? '\n' : c;
        if (::write(0, lines.data(), lines.size()) != static_cast<ssize_t>(lines.size()))
            return 101;
    }
    if (const char* sleepMs = std::getenv("FAKE_FBINST_SLEEP_MS"))
        ::usleep(static_cast<useconds_t>(std::atoi(sleepMs)) * 1000);
    const char* failAt = std::getenv("FAKE_FBINST_FAIL_AT");
    if (failAt && std::atoi(failAt) == calls + 1) {
        if (const char* error = std::getenv("FAKE_FBINST_ERROR"))
            std::fprintf(stderr, "note: a line before the reason\n%s\n", error);
        const char* code = std::getenv("FAKE_FBINST_EXIT");
        return code ? std::atoi(code) : 1;
    }
    return 0;
}
