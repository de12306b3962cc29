#include "app/qt/QtDialogFields.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QThread>

namespace ostrim {

QtDialogFields::QtDialogFields(QWidget* messageParent)
    : messageParent_(messageParent)
{
    presenter_ = [this](const QString& text) {
        QMessageBox::information(messageParent_, QStringLiteral("Ostrim"), text);
    };
}

void QtDialogFields::Bind(Field field, QLineEdit* edit)
{
    edits_[field] = edit;
    {
        std::lock_guard lock(mutex_);
        texts_[field] = edit->text().toStdString();
    }
    connect(edit, &QLineEdit::textChanged, this,
            [this, field](const QString& text) { OnEdited(field, text); });
}

void QtDialogFields::BindPortList(PortField field, QComboBox* list)
{
    OnPortChanged(field, list);
    connect(list, &QComboBox::currentIndexChanged, this,
            [this, field, list] { OnPortChanged(field, list); });
}

void QtDialogFields::SetMessagePresenter(MessagePresenter presenter)
{
    presenter_ = std::move(presenter);
}

void QtDialogFields::SetText(Field field, const std::string& text)
{
    QString qtext = QString::fromStdString(text);
    // Posting under the lock keeps the copy's order and the delivery order the same.
    std::lock_guard lock(mutex_);
    texts_[field] = text;
    ++pending_[field];
    queue_.emplace_back(field, qtext);
    QMetaObject::invokeMethod(this, "ApplyQueued", Qt::QueuedConnection);
}

void QtDialogFields::ApplyQueued()
{
    std::deque<std::pair<Field, QString>> updates;
    std::deque<QString> messages;
    {
        std::lock_guard lock(mutex_);
        updates.swap(queue_);
        messages.swap(messages_);
    }
    for (const auto& [field, text] : updates)
        Apply(field, text);
    for (const QString& text : messages)
        presenter_(text);
}

std::string QtDialogFields::GetText(Field field) const
{
    std::lock_guard lock(mutex_);
    auto it = texts_.find(field);
    return it == texts_.end() ? std::string() : it->second;
}

void QtDialogFields::ShowMessage(const std::string& text)
{
    QString qtext = QString::fromStdString(text);
    if (QThread::currentThread() == thread()) {
        presenter_(qtext);
        return;
    }
    // Never wait for the operator here: the reader thread must stay free to be stopped.
    {
        std::lock_guard lock(mutex_);
        messages_.push_back(qtext);
    }
    QMetaObject::invokeMethod(this, "ApplyQueued", Qt::QueuedConnection);
}

std::string QtDialogFields::SelectedPort(PortField field) const
{
    std::lock_guard lock(mutex_);
    auto it = ports_.find(field);
    return it == ports_.end() ? std::string() : it->second;
}

void QtDialogFields::Apply(Field field, const QString& text)
{
    {
        std::lock_guard lock(mutex_);
        --pending_[field];
    }
    auto it = edits_.find(field);
    if (it == edits_.end() || !it->second)
        return;
    it->second->setText(text);
    it->second->setCursorPosition(0); // show a long path from its start, not its end
}

void QtDialogFields::OnEdited(Field field, const QString& text)
{
    std::lock_guard lock(mutex_);
    // A text still on its way wins: the widget will show it shortly.
    if (pending_[field] == 0)
        texts_[field] = text.toStdString();
}

void QtDialogFields::OnPortChanged(PortField field, const QComboBox* list)
{
    std::string device = list->currentData().toString().toStdString();
    std::lock_guard lock(mutex_);
    ports_[field] = device;
}

} // namespace ostrim
