// The program shows its window on a real X server (Xvfb, the xcb platform), as the run command
// starts it: the demo opens, Start drives, and the picture it saves is the dialog.

#include "app/qt/DialogSession.h"
#include "app/qt/OstrimDlg.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScratchFolder.h"

#include <QImage>

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>

// gcc says __SANITIZE_THREAD__, clang __has_feature(thread_sanitizer).
#if defined(__SANITIZE_THREAD__)
#define OSTRIM_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define OSTRIM_THREAD_SANITIZER 1
#endif
#endif
#ifndef OSTRIM_THREAD_SANITIZER
#define OSTRIM_THREAD_SANITIZER 0
#endif

namespace ostrim {
namespace {

using namespace std::chrono_literals;

std::string FindProgram(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        std::string candidate = folder + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::string();
}

TEST(XvfbWindow, DemoUnderXvfb_ShowsTheDialogWithARunInIt)
{
#ifndef OSTRIM_EXECUTABLE
    GTEST_SKIP() << "the ostrim program is not built";
#else
#if OSTRIM_THREAD_SANITIZER
    // On a real X display Qt runs threads of its own (xcb events, D-Bus) that synchronise inside
    // the uninstrumented libQt6Core, and TSan reports races with only Qt frames on both sides.
    // The dialog with a run behind it is checked under TSan by the offscreen tests.
    GTEST_SKIP() << "ThreadSanitizer cannot see Qt's own synchronisation on a real display";
#endif
    const std::string xvfbRun = FindProgram("xvfb-run");
    if (xvfbRun.empty())
        GTEST_SKIP() << "xvfb-run is not installed (Debian package xvfb)";
    test::ScratchFolder folder;
    const std::string picture = folder / "demo.png";
    test::ChildProcess ostrim;
    // The xcb platform: the one an operator's desktop uses, not the tests' offscreen one.
    ASSERT_TRUE(ostrim.Start({xvfbRun, "-a", "-s", "-screen 0 1024x768x24", OSTRIM_EXECUTABLE,
                              "--demo", "--folder", folder / "demo", "--screenshot", picture},
                             {{"QT_QPA_PLATFORM", "xcb"}, {"WAYLAND_DISPLAY", std::nullopt},
                              {"XDG_RUNTIME_DIR", folder.Path().string()}}));
    std::vector<test::OutputLine> lines;
    ASSERT_EQ(ostrim.Wait(60s, &lines), 0) << ostrim.Errors();

    // Start ran the drive before the picture: the base station heard the first node.
    bool switched = false;
    for (const test::OutputLine& line : lines)
        switched = switched || line.text.find("node 0x4070BF7B on") != std::string::npos;
    EXPECT_TRUE(switched) << ostrim.Errors();

    QImage image(QString::fromStdString(picture));
    ASSERT_FALSE(image.isNull()) << picture;
    COstrimDlg dialog; // the size its layout gives, here under the offscreen platform
    DialogSession session(dialog); // with the run panel below the controls
    EXPECT_EQ(image.width(), dialog.width());
    EXPECT_EQ(image.height(), dialog.height());
    // A drawn window, not a blank one: the dialog's face, its edit boxes, text.
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3) {
        for (int x = 0; x < image.width(); x += 3)
            colours.insert(image.pixel(x, y));
    }
    EXPECT_GT(colours.size(), 10u);
#endif
}

} // namespace
} // namespace ostrim
