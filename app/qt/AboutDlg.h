#pragma once
// The About box: the icon, the program's name and version, OK.

#include <QDialog>

namespace ostrim {

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

} // namespace ostrim
