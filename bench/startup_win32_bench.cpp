// Start-up of the real Windows editor under Wine: time from CreateProcess to its first painted frame
// on screen, and its peak working set. A Windows program, run inside Xvfb with Wine started there:
//   xvfb-run -a bash -c 'source scripts/lib/common.sh && source scripts/lib/windows.sh && start_wine &&
//     wine build-windows/bench/startup_win32_bench.exe; stop_wine'
// Prints the median and worst of several starts (Wine's process start-up included).
#include <algorithm>
#include <cstdio>
#include <vector>

#include "editor_process_win32.hpp"

int main() {
    using namespace halvard::testing;
    using namespace std::chrono_literals;
    makeDpiAware();
    constexpr int kRuns = 5;
    std::vector<double> times;
    long peakKb = 0;
    for (int i = 0; i < kRuns; ++i) {
        const auto start = Clock::now();
        EditorProcess editor(HALVARD_EDITOR);
        const HWND window = editor.findWindow(30s);
        if (!window || !waitUntil([&] { return EditorProcess::painted(window); }, 30s, 1ms)) {
            std::printf("start %d: no painted window\n", i + 1);
            return 1;
        }
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        std::this_thread::sleep_for(1s);  // timer ticks and repaints
        peakKb = std::max(peakKb, editor.peakWorkingSetKb());
        PostMessageW(window, WM_CLOSE, 0, 0);
        if (editor.waitForExit(20s) != 0u) {
            std::printf("start %d: no clean exit\n", i + 1);
            return 1;
        }
    }
    std::sort(times.begin(), times.end());
    std::printf(
        "Windows editor under Wine, %g DPI: start-up to first painted frame: median %.0f ms, worst %.0f ms\n",
        desktopDpi(), times[times.size() / 2], times.back());
    std::printf("peak working set: %.1f MB\n", peakKb / 1024.0);
    return 0;
}
