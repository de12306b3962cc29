#pragma once
// The front end for vehicles without a screen: the dialog's fields are texts in memory, every
// status text is printed as one line, and timers run on a thread of their own.

#include "app/CommandLine.h"
#include "runstate/DialogFields.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <string>

namespace ostrim {

// Thread rule: any thread may call these; lines are written whole, in call order. When the
// reader of a stream goes away (EPIPE), nothing more is written to that stream; the run goes on.
class PrintingFields : public DialogFields {
public:
    PrintingFields(std::FILE* out, std::FILE* err) : out_{out}, err_{err} {}

    void SetText(Field field, const std::string& text) override;
    std::string GetText(Field field) const override;
    void ShowMessage(const std::string& text) override;
    // A line of the program's own (not a field), e.g. the demo's progress.
    void Print(const std::string& line);
    // Text as it is, its line feed included, unflushed: the distance trace, which comes for
    // every sensor at every fix.
    void Write(const std::string& text);

private:
    struct Stream {
        std::FILE* file;
        bool gone = false;
    };
    void Emit(Stream& stream, const std::string& text, bool flush);

    Stream out_;
    Stream err_;
    mutable std::mutex mutex_;
    std::map<Field, std::string> texts_;
};

inline constexpr char kDefaultNodeId[] = "4070BF7B";

// Runs until SIGINT or SIGTERM (on Windows Ctrl-C, Ctrl-Break, the console closing or the key
// Q); on POSIX SIGUSR1 is Trigger On/Off, SIGUSR2 End of Lap, SIGHUP Reload sensors, on Windows
// the keys T, L and R. Records still held at the end go to the rescue folder, which is printed.
// 0 after a signal; 2 when the GPS port did not open, 3 when the logs could not be created, 4
// when held records were lost.
int RunHeadless(const CommandLine& line);

} // namespace ostrim
