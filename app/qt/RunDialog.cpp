#include "app/qt/RunDialog.h"

#include "app/qt/DialogSession.h"
#include "app/qt/OstrimApp.h"
#include "app/qt/OstrimDlg.h"

#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace ostrim {

bool DisplayAvailable()
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return true;
    }
    return false;
}

int RunDialog(int argc, char** argv, const DialogOptions& options)
{
    COstrimApp app(argc, argv);
    COstrimDlg dialog(options);
    DialogSession session(dialog);

    int result = 0;
    if (!options.screenshot.empty()) {
        // Long enough for the window manager to map and paint the window.
        QTimer::singleShot(500, &dialog, [&] {
            if (!dialog.grab().save(QString::fromStdString(options.screenshot), "PNG")) {
                std::fprintf(stderr, "ostrim: could not save the screenshot to %s\n",
                             options.screenshot.c_str());
                result = 1;
            }
            dialog.reject();
        });
    }
    dialog.exec();
    return result;
}

} // namespace ostrim
