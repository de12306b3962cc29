#pragma once
// DialogFields on the Windows dialog's controls, safe to use from the GPS reader thread.
//
// Thread rule: a window belongs to the thread that made it, and a SendMessage to it from the
// reader thread would wait for the GUI thread, which may itself be waiting to join the reader.
// So SetText from any thread only queues the text and posts kApplyMessage; the dialog procedure
// calls ApplyQueued on the GUI thread, which sets the controls in call order. GetText and
// SelectedPort never touch a control: they read a copy kept under a lock, which holds the last
// text set or, when none is pending, what the operator typed. ShowMessage shows the message box
// at once on the GUI thread and is queued from any other, never blocking the reader.

#include "runstate/DialogFields.h"

#include <windows.h>

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace ostrim {

class Win32DialogFields : public DialogFields {
public:
    static constexpr UINT kApplyMessage = WM_APP + 1;

    // Called on the GUI thread with each status text as it reaches the control.
    using StatusEcho = std::function<void(const std::string& text)>;

    // GUI thread, in WM_INITDIALOG once the controls hold their first texts.
    void Attach(HWND dialog);
    void SetStatusEcho(StatusEcho echo) { echo_ = std::move(echo); }

    void SetText(Field field, const std::string& text) override;
    std::string GetText(Field field) const override;
    void ShowMessage(const std::string& text) override;

    // The text of the port list's selected entry, empty for none; any thread.
    std::string SelectedPort(int listId) const;

    // GUI thread: on kApplyMessage; on EN_CHANGE of an edit box; on CBN_SELCHANGE of a list.
    void ApplyQueued();
    void OnEdited(int controlId);
    void OnPortChanged(int listId);

private:
    static std::string ControlText(HWND control);

    HWND dialog_ = nullptr;
    DWORD guiThread_ = 0;
    StatusEcho echo_;

    mutable std::mutex mutex_;
    std::map<Field, std::string> texts_;
    std::map<Field, int> pending_; // SetText calls not yet applied
    std::deque<std::pair<Field, std::string>> queue_;
    std::deque<std::string> messages_;
    std::map<int, std::string> ports_;
};

} // namespace ostrim
