#include "app/win32/Win32DialogFields.h"

#include "app/DialogTemplate.h"

namespace ostrim {

namespace {

constexpr Field kFields[] = {Field::Folder, Field::Latitude, Field::Longitude,
                             Field::LatitudeHemisphere, Field::LongitudeHemisphere, Field::Time,
                             Field::Height, Field::SensorFile, Field::NodeId, Field::Status,
                             Field::VehicleType};

bool IsField(int controlId)
{
    for (Field field : kFields) {
        if (static_cast<int>(field) == controlId)
            return true;
    }
    return false;
}

} // namespace

std::string Win32DialogFields::ControlText(HWND control)
{
    const int length = GetWindowTextLengthA(control);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const int got = GetWindowTextA(control, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return text;
}

void Win32DialogFields::Attach(HWND dialog)
{
    dialog_ = dialog;
    guiThread_ = GetCurrentThreadId();
    std::lock_guard lock(mutex_);
    for (Field field : kFields)
        texts_[field] = ControlText(GetDlgItem(dialog, static_cast<int>(field)));
}

void Win32DialogFields::SetText(Field field, const std::string& text)
{
    // Posting under the lock keeps the copy's order and the delivery order the same.
    std::lock_guard lock(mutex_);
    texts_[field] = text;
    ++pending_[field];
    queue_.emplace_back(field, text);
    PostMessageA(dialog_, kApplyMessage, 0, 0);
}

std::string Win32DialogFields::GetText(Field field) const
{
    std::lock_guard lock(mutex_);
    auto it = texts_.find(field);
    return it == texts_.end() ? std::string() : it->second;
}

void Win32DialogFields::ShowMessage(const std::string& text)
{
    if (GetCurrentThreadId() == guiThread_) {
        MessageBoxA(dialog_, text.c_str(), "Ostrim", MB_OK);
        return;
    }
    std::lock_guard lock(mutex_);
    messages_.push_back(text);
    PostMessageA(dialog_, kApplyMessage, 0, 0);
}

std::string Win32DialogFields::SelectedPort(int listId) const
{
    std::lock_guard lock(mutex_);
    auto it = ports_.find(listId);
    return it == ports_.end() ? std::string() : it->second;
}

void Win32DialogFields::ApplyQueued()
{
    std::deque<std::pair<Field, std::string>> updates;
    std::deque<std::string> messages;
    {
        std::lock_guard lock(mutex_);
        updates.swap(queue_);
        messages.swap(messages_);
    }
    for (const auto& [field, text] : updates) {
        {
            std::lock_guard lock(mutex_);
            --pending_[field];
        }
        // Its EN_CHANGE finds nothing pending and keeps this text as the copy.
        SetDlgItemTextA(dialog_, static_cast<int>(field), text.c_str());
        if (field == Field::Status && echo_)
            echo_(text);
    }
    // The message box's own message loop may run this again for later texts: they are applied
    // there, after these.
    for (const std::string& text : messages)
        MessageBoxA(dialog_, text.c_str(), "Ostrim", MB_OK);
}

void Win32DialogFields::OnEdited(int controlId)
{
    if (dialog_ == nullptr || !IsField(controlId))
        return;
    const Field field = static_cast<Field>(controlId);
    std::string text = ControlText(GetDlgItem(dialog_, controlId));
    std::lock_guard lock(mutex_);
    // A text still on its way wins: the control will show it shortly.
    if (pending_[field] == 0)
        texts_[field] = std::move(text);
}

void Win32DialogFields::OnPortChanged(int listId)
{
    HWND list = GetDlgItem(dialog_, listId);
    const LRESULT index = SendMessageA(list, CB_GETCURSEL, 0, 0);
    std::string text;
    if (index != CB_ERR) {
        const LRESULT length = SendMessageA(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
        if (length != CB_ERR) {
            text.assign(static_cast<std::size_t>(length) + 1, '\0');
            SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(index),
                         reinterpret_cast<LPARAM>(text.data()));
            text.resize(static_cast<std::size_t>(length));
        }
    }
    std::lock_guard lock(mutex_);
    ports_[listId] = std::move(text);
}

} // namespace ostrim
