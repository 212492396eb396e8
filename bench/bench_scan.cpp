// One drive list scan over 8 removable drives of a fake sysfs tree, as the main window runs it
// every 2 seconds on its user interface thread. Budget: a median under 5 ms.

#include "drives/DriveList.h"
#include "drives/FakeDriveTree.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using vornel::testing::FakeDisk;
using vornel::testing::FakeDriveTree;

int main() {
    FakeDriveTree tree;
    FakeDisk system = vornel::testing::UsbStick("sda", "8:0");
    system.removableFlag = false;
    system.onUsb = false;
    tree.Add(system);
    for (int i = 0; i < 8; ++i) {
        const std::string name = std::string("sd") + static_cast<char>('b' + i);
        FakeDisk stick = vornel::testing::UsbStick(name, "8:" + std::to_string(16 * (i + 1)));
        stick.udevVendor = "Generic";
        stick.udevModel = "Flash_Disk";
        tree.Add(stick);
        FakeDriveTree::FormatFat(tree.DevNode(name), "STICK" + std::to_string(i));
    }
    auto queries = vornel::platform::CreateLinuxDriveQueries(tree.Sources());

    constexpr int kRuns = 200;
    std::vector<double> milliseconds;
    vornel::drives::DriveListItems list{{std::string(vornel::drives::kInsertDiskPrompt)}, 0};
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        list = vornel::drives::ScanDriveList(*queries, list.items, list.selectedIndex);
        const auto end = std::chrono::steady_clock::now();
        milliseconds.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    if (list.items.size() != 8) {
        std::fprintf(stderr, "expected 8 drive lines, got %zu\n", list.items.size());
        return 1;
    }
    std::sort(milliseconds.begin(), milliseconds.end());
    const double median = milliseconds[kRuns / 2];
    const double p95 = milliseconds[kRuns * 95 / 100];
    std::printf("scan of 8 removable drives: median %.3f ms, p95 %.3f ms (%d runs, budget: median < 5 ms)\n",
                median, p95, kRuns);
    return median < 5.0 ? 0 : 1;
}
