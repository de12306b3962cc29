#include "app/qt/RunDialog.h"

#include "app/Demo.h"
#include "app/DialogTemplate.h"
#include "app/qt/OstrimApp.h"
#include "app/qt/OstrimDlg.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>

namespace ostrim {

namespace {

// Long enough for the window manager to map and paint the window.
constexpr int kMapDelayMs = 500;

// Whole lines on standard output from any thread (the base station's thread among them).
void PrintLine(const std::string& line)
{
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

} // namespace

bool DisplayAvailable()
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return true;
    }
    return false;
}

int RunDialog(int argc, char** argv, const DialogOptions& options, DialogSession::Extras extras)
{
    COstrimApp app(argc, argv);
    COstrimDlg dialog(options);
    if (!extras.summary) {
        // On standard output too, for an operator who started the program from a terminal; no
        // box when nobody is there to close it.
        const bool unattended = !options.screenshot.empty();
        extras.summary = [unattended](const std::string& text) {
            PrintLine(text);
            if (!unattended)
                QMessageBox::information(nullptr, QStringLiteral("Ostrim"), QString::fromStdString(text));
        };
    }
    if (!options.screenshot.empty() && !extras.rescueFolder) {
        // Nobody is there to answer: held records go to the rescue folder as headless puts them.
        extras.rescueFolder = [](QWidget*, std::size_t, const std::string& folder,
                                 const std::string& failure) -> std::optional<std::string> {
            if (!failure.empty())
                return std::nullopt;
            return folder;
        };
    }
    DialogSession session(dialog, std::move(extras));

    int result = 0;
    if (!options.screenshot.empty()) {
        auto save = [&] {
            if (!dialog.grab().save(QString::fromStdString(options.screenshot), "PNG")) {
                std::fprintf(stderr, "ostrim: could not save the screenshot to %s\n",
                             options.screenshot.c_str());
                result = 1;
            }
            dialog.reject();
        };
        if (options.screenshotAfterStartMs > 0) {
            QTimer::singleShot(kMapDelayMs, &dialog, [&dialog, &options, save] {
                static_cast<QAbstractButton*>(dialog.Control(kIdStart))->click();
                QTimer::singleShot(options.screenshotAfterStartMs, &dialog, save);
            });
        } else {
            QTimer::singleShot(kMapDelayMs, &dialog, save);
        }
    }
    dialog.exec();
    return result;
}

DialogOptions DemoDialogOptions(const Demo& demo)
{
    DialogOptions options;
    options.folder = demo.Folder();
    options.sensorFile = demo.SensorFile();
    options.extraPorts = {{demo.GpsPort(), Demo::kGpsPortName},
                          {demo.BasePort(), Demo::kBasePortName}};
    options.gpsPort = demo.GpsPort();
    options.basePort = demo.BasePort();
    return options;
}

int RunDemoDialog(int argc, char** argv, const CommandLine& line)
{
    Demo demo;
    demo.SetOnBaseStationLine([](const std::string& text) { PrintLine("base station: " + text); });
    std::string error;
    if (!demo.Prepare(line.folder.empty() ? DefaultDemoFolder() : line.folder, &error)) {
        std::fprintf(stderr, "ostrim: %s\n", error.c_str());
        return 1;
    }
    PrintLine("demo: simulated GPS receiver on " + demo.GpsPort() + ", base station on " +
              demo.BasePort());
    PrintLine("demo: sensor file " + demo.SensorFile() + ", track " + demo.TrackFile());
    PrintLine("demo: logs in " + demo.Folder());
    PrintLine("demo: press Start to set the vehicle moving; close the window to end");

    DialogOptions options = DemoDialogOptions(demo);
    if (line.vehicleType)
        options.vehicleType = *line.vehicleType;
    if (line.screenshot) {
        options.screenshot = *line.screenshot;
        // The first sensor is 2 s down the road: a node has switched by then.
        options.screenshotAfterStartMs = 4000;
    }
    DialogSession::Extras extras;
    extras.afterStart = [&demo] { demo.Drive(0); };
    // The distance trace (forty lines a second) would bury the base station's lines.
    extras.trace = [](const std::string&) {};
    return RunDialog(argc, argv, options, std::move(extras));
}

} // namespace ostrim
