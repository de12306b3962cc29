#pragma once
// A run's control socket: a Unix stream socket on which a client sends one request line and
// reads one reply; then the connection closes. The words are the caller's (see
// run/ControlProtocol.h); this is the socket, its thread and its limits.
//
// The server's thread accepts and reads the clients; the run's own thread answers each request
// line in AnswerPending, exactly where it acts on a signal. Nothing a client does reaches further:
// - at most Limits::clients connections at once; one more is given `replies.busy` and closed;
// - a request must come whole within Limits::requestTime, at most Limits::maxLine bytes with
//   its line feed; otherwise `replies.silent` or `replies.tooLong`, and the connection closes;
// - a line the screen rejects (not a command) is answered on the server's thread;
// - a reply must leave within Limits::replyTime, else the connection is dropped;
// - a request the run leaves unanswered for Limits::answerTime gets `replies.unanswered`.
// Every descriptor is non-blocking, and the thread waits only in poll().
//
// The socket file is made with mode 0660 (the owner and the group may ask), in a folder that is
// made if missing. A socket file left behind by a run that died without removing it is replaced;
// one that a live run still answers on is not (EADDRINUSE).
//
// Thread rule: Open, Close and AnswerPending on the run's thread; PendingFd's descriptor may be
// polled there.

#include "platform/posix/EventFd.h"
#include "platform/posix/UniqueFd.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <utility>
#include <vector>

namespace ostrim {

class ControlServer {
public:
    struct Limits {
        std::size_t maxLine = 256;
        std::size_t clients = 8;
        std::chrono::milliseconds requestTime{2000};
        std::chrono::milliseconds answerTime{5000};
        std::chrono::milliseconds replyTime{2000};
    };
    // The server's own replies, made by the caller's protocol.
    struct Replies {
        std::string busy;
        std::string tooLong;
        std::string silent;
        std::string unanswered;
    };
    // Runs on the server's thread: the reply to a line the run need not see, or nothing to hand
    // the line to the run.
    using Screen = std::function<std::optional<std::string>(const std::string& line)>;
    // Runs on the run's thread: the reply to a request line.
    using Answer = std::function<std::string(const std::string& line)>;

    ControlServer() = default;
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    // Binds `path` and starts the thread. 0 or errno (EADDRINUSE: a live run answers there;
    // EEXIST: something that is not a socket is there).
    int Open(const std::string& path, Replies replies, Screen screen, Limits limits);
    int Open(const std::string& path, Replies replies, Screen screen)
    {
        return Open(path, std::move(replies), std::move(screen), Limits{});
    }
    // Readable while requests wait for AnswerPending; -1 when not open.
    int PendingFd() const { return pending_.Valid() ? pending_.Fd() : -1; }
    // Answers every waiting request, on the calling thread.
    void AnswerPending(const Answer& answer);
    // Stops the thread, drops the clients and removes the socket file (when it is still ours).
    void Close();

private:
    struct Client;
    struct Request {
        std::uint64_t id;
        std::string line;
    };

    void Serve();
    // False when accepting failed for a reason that does not pass by itself.
    bool Accept(std::vector<Client>& clients);
    void ReadFrom(Client& client);
    void WriteTo(Client& client);
    void Reply(Client& client, std::string text);

    std::string path_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    Replies replies_;
    Screen screen_;
    Limits limits_;
    UniqueFd listener_;
    EventFd stop_;
    EventFd pending_;  // raised for the run: requests wait
    EventFd answered_; // raised for the server: replies wait
    std::mutex mutex_;
    std::deque<Request> requests_;
    std::vector<std::pair<std::uint64_t, std::string>> answers_;
    std::uint64_t nextId_ = 0; // the server's thread only
    std::thread thread_;
};

} // namespace ostrim
