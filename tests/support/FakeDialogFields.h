#pragma once
// A DialogFields that keeps every text in memory and records the status history, so tests can
// check both the last text and the order of texts.

#include "runstate/DialogFields.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace ostrim::test {

class FakeDialogFields : public DialogFields {
public:
    void SetText(Field field, const std::string& text) override
    {
        std::lock_guard lock(mutex_);
        texts_[field] = text;
        if (field == Field::Status)
            statusHistory_.push_back(text);
    }
    std::string GetText(Field field) const override
    {
        std::lock_guard lock(mutex_);
        auto it = texts_.find(field);
        return it == texts_.end() ? std::string() : it->second;
    }
    void ShowMessage(const std::string& text) override
    {
        std::lock_guard lock(mutex_);
        messages_.push_back(text);
    }

    std::string Status() const { return GetText(Field::Status); }
    std::vector<std::string> StatusHistory() const
    {
        std::lock_guard lock(mutex_);
        return statusHistory_;
    }
    std::vector<std::string> Messages() const
    {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    void ClearHistory()
    {
        std::lock_guard lock(mutex_);
        statusHistory_.clear();
        messages_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::map<Field, std::string> texts_;
    std::vector<std::string> statusHistory_;
    std::vector<std::string> messages_;
};

} // namespace ostrim::test
