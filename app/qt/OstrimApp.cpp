#include "app/qt/OstrimApp.h"

#include <QFontDatabase>

#include <clocale>

// Q_INIT_RESOURCE must be used outside a namespace; the resources live in a static library.
static void InitOstrimResources()
{
    Q_INIT_RESOURCE(ostrim);
}

namespace ostrim {

COstrimApp::COstrimApp(int& argc, char** argv)
    : QApplication(argc, argv)
{
    // QApplication took the user's locale for everything; numbers written to the logs and shown
    // in the fields must not get a decimal comma.
    std::setlocale(LC_NUMERIC, "C");
    setApplicationName(QStringLiteral("Ostrim"));
    setApplicationVersion(QStringLiteral("1.0"));
    setWindowIcon(AppIcon());
}

QIcon AppIcon()
{
    static bool initialised = [] {
        InitOstrimResources();
        return true;
    }();
    (void)initialised;
    return QIcon(QStringLiteral(":/ostrim/ostrim.png"));
}

QFont DialogFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(8);
    return font;
}

} // namespace ostrim
