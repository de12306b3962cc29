#pragma once
// A port list that is filled again each time it opens: a receiver unplugged and plugged in
// again may come back under another device name, and must be choosable without a restart.

#include <QComboBox>

#include <functional>

namespace ostrim {

class PortListBox : public QComboBox {
public:
    using QComboBox::QComboBox;

    // Called on the GUI thread just before the list opens.
    void SetBeforeOpen(std::function<void()> refill) { beforeOpen_ = std::move(refill); }

    void showPopup() override
    {
        if (beforeOpen_)
            beforeOpen_();
        QComboBox::showPopup();
    }

private:
    std::function<void()> beforeOpen_;
};

} // namespace ostrim
