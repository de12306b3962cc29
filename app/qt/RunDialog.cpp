#include "app/qt/RunDialog.h"

#include "app/qt/OstrimApp.h"
#include "app/qt/OstrimDlg.h"
#include "app/qt/QtTimerService.h"

#include <QTimer>

#include <cstdio>

namespace ostrim {

int RunDialog(int argc, char** argv, const DialogOptions& options)
{
    COstrimApp app(argc, argv);
    COstrimDlg dialog(options);
    QtTimerService timers;

    int result = 0;
    if (!options.screenshot.empty()) {
        // Long enough for the window manager to map and paint the window.
        QTimer::singleShot(500, &dialog, [&] {
            if (!dialog.grab().save(QString::fromStdString(options.screenshot), "PNG")) {
                std::fprintf(stderr, "Could not save the screenshot to %s\n",
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
