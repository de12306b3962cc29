#pragma once
// The application object: Qt's application with the program's name, icon and a fixed numeric
// locale.

#include <QApplication>
#include <QFont>
#include <QIcon>

namespace ostrim {

class COstrimApp : public QApplication {
    Q_OBJECT

public:
    // `argc` must outlive the application, as QApplication requires.
    COstrimApp(int& argc, char** argv);
};

// The icon of the windows and the About box.
QIcon AppIcon();

// The system's normal font at 8 points, the size the dialog layout is drawn for.
QFont DialogFont();

} // namespace ostrim
