#pragma once
// DialogFields on the dialog's widgets, safe to use from the GPS reader thread.
//
// Thread rule: SetText and ShowMessage from any thread are queued to the GUI thread and reach
// the widgets in call order (also calls made on the GUI thread, so that a text set there never
// overtakes one set earlier from the reader thread). GetText and SelectedPort never touch a
// widget: they read a copy kept under a lock, which holds the last text set or, when none is
// pending, what the operator typed. ShowMessage never blocks a thread other than the GUI thread.

#include "runstate/DialogFields.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>

class QComboBox;
class QLineEdit;
class QWidget;

namespace ostrim {

enum class PortField : int {
    Gps = 1012,
    BaseStation = 1013,
};

class QtDialogFields : public QObject, public DialogFields {
    Q_OBJECT

public:
    using MessagePresenter = std::function<void(const QString& text)>;

    // `messageParent` owns the message boxes; it must outlive this object.
    explicit QtDialogFields(QWidget* messageParent);

    // GUI thread, before the fields are used from another thread.
    void Bind(Field field, QLineEdit* edit);
    // The entry's device path is its item data (Qt::UserRole).
    void BindPortList(PortField field, QComboBox* list);
    // Replaces the message box, for tests.
    void SetMessagePresenter(MessagePresenter presenter);

    void SetText(Field field, const std::string& text) override;
    std::string GetText(Field field) const override;
    void ShowMessage(const std::string& text) override;

    // The selected entry's device path, empty for none.
    std::string SelectedPort(PortField field) const;

private:
    // Runs on the GUI thread for each posted update. What it applies travels through queue_
    // under mutex_, not inside the posted call, so ThreadSanitizer sees the hand-over (Qt's own
    // event queue synchronises inside an uninstrumented library).
    Q_INVOKABLE void ApplyQueued();
    void Apply(Field field, const QString& text);
    void OnEdited(Field field, const QString& text);
    void OnPortChanged(PortField field, const QComboBox* list);

    QWidget* messageParent_;
    MessagePresenter presenter_;
    std::map<Field, QPointer<QLineEdit>> edits_; // GUI thread only

    mutable std::mutex mutex_;
    std::map<Field, std::string> texts_;
    std::map<Field, int> pending_; // SetText calls not yet applied
    std::deque<std::pair<Field, QString>> queue_;
    std::deque<QString> messages_;
    std::map<PortField, std::string> ports_;
};

} // namespace ostrim
