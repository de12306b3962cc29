#include "app/qt/AboutDlg.h"

#include "app/DialogResources.h"
#include "app/Version.h"
#include "app/qt/DialogUnits.h"
#include "app/qt/OstrimApp.h"

#include <QLabel>
#include <QPushButton>

namespace ostrim {

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("About Ostrim"));
    setFont(DialogFont());
    DialogBaseUnits units = BaseUnitsOf(font());
    setFixedSize(MapDialogSize(units, OSTRIM_ABOUT_WIDTH, OSTRIM_ABOUT_HEIGHT));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    icon->setPixmap(AppIcon().pixmap(32, 32));
    icon->setGeometry(QRect(MapDialogRect(units, OSTRIM_ABOUT_ICON_X, OSTRIM_ABOUT_ICON_Y, 0, 0).topLeft(), QSize(32, 32)));

    auto* version = new QLabel(QStringLiteral("Ostrim Version ") + QLatin1String(kVersion), this);
    version->setObjectName(QStringLiteral("version"));
    version->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    version->setGeometry(MapDialogRect(units, OSTRIM_ABOUT_TEXT_RECT));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("id1"));
    ok->setProperty("controlId", 1);
    ok->setDefault(true);
    ok->setGeometry(MapDialogRect(units, OSTRIM_ABOUT_OK_RECT));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

} // namespace ostrim
