// The built program as the user starts it: its options print and end without a window, and a
// second start hands over to the running window instead of opening another.

#include "install/ProgramRun.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vornel::test::ProgramRun;

const std::string kProgram = std::string(VORNEL_BUILD_DIR) + "/vornel";

std::string ReadText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), {});
}

class ProgramStart : public ::testing::Test {
  protected:
    void SetUp() override { runtime_ = vornel::test::PrivateRuntimeFolder(); }
    void TearDown() override { fs::remove_all(runtime_); }
    std::vector<std::string> Environment() const {
        return {"QT_QPA_PLATFORM=offscreen", "QTWEBENGINE_DISABLE_SANDBOX=1", "XDG_RUNTIME_DIR=" + runtime_,
                "VORNEL_DRIVES="};
    }
    std::string runtime_;
};

TEST_F(ProgramStart, HelpAndVersionPrintAndEndWithoutAWindow) {
    // With no display to reach, a program that made its application object would fail.
    const std::vector<std::string> noDisplay{"QT_QPA_PLATFORM=xcb", "DISPLAY=:9999",
                                             "XDG_RUNTIME_DIR=" + runtime_};
    const std::string printed = runtime_ + "/printed";
    EXPECT_EQ(vornel::test::RunProgram({{kProgram, "--version"}, noDisplay, printed}), 0);
    EXPECT_EQ(ReadText(printed), "VornelU盘装机 " VORNEL_VERSION "\n");
    EXPECT_EQ(vornel::test::RunProgram({{kProgram, "-platform", "xcb", "--help"}, noDisplay, printed}), 0);
    EXPECT_NE(ReadText(printed).find("--version"), std::string::npos);
    EXPECT_FALSE(fs::exists(runtime_ + "/vornel.socket")) << "an option must not touch a running program";
}

TEST_F(ProgramStart, ASecondStartRaisesTheFirstWindowAndEnds) {
    const pid_t first = vornel::test::StartProgram({{kProgram}, Environment(), {}});
    ASSERT_GT(first, 0);
    const fs::path socket = runtime_ + "/vornel.socket";
    for (auto waited = 0ms; !fs::exists(socket) && waited < 60s; waited += 100ms)
        std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(fs::exists(socket));

    // It ends with 0 only once the first has answered that it raised its window.
    const pid_t second = vornel::test::StartProgram({{kProgram}, Environment(), {}});
    ASSERT_GT(second, 0);
    const int secondExit = vornel::test::WaitForExit(second, 60s);
    if (secondExit == -1)
        vornel::test::StopProgram(second);
    EXPECT_EQ(secondExit, 0);
    EXPECT_EQ(vornel::test::WaitForExit(first, 1s), -1) << "the first window runs on";
    vornel::test::StopProgram(first);
}

} // namespace
