#include "platform/posix/ControlServer.h"

#include "platform/posix/Deadline.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ostrim {

struct ControlServer::Client {
    enum class Phase { Reading, Waiting, Writing, Done };
    UniqueFd fd;
    Phase phase = Phase::Reading;
    std::uint64_t id = 0;
    std::string line;
    std::string reply;
    std::size_t sent = 0;
    Deadline deadline = Deadline::Never();
};

namespace {

bool MakeAddress(const std::string& path, sockaddr_un* address)
{
    *address = sockaddr_un{};
    address->sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address->sun_path)
        return false;
    std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
    return true;
}

UniqueFd StreamSocket()
{
    return UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
}

// A socket file at `path` that nobody accepts on any more: a run died without removing it.
// A live listener takes the connection at once, even one too busy to read it.
bool IsStale(const sockaddr_un& address)
{
    UniqueFd probe = StreamSocket();
    if (!probe)
        return false;
    int result = ::connect(probe.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return result < 0 && errno == ECONNREFUSED;
}

int MakeFolder(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return 0;
    const std::string folder = path.substr(0, slash);
    // Only the last folder: $XDG_RUNTIME_DIR or /run exists, and systemd makes its own.
    if (::mkdir(folder.c_str(), 0755) < 0 && errno != EEXIST)
        return errno;
    return 0;
}

} // namespace

ControlServer::~ControlServer()
{
    Close();
}

int ControlServer::Open(const std::string& path, Replies replies, Screen screen, Limits limits)
{
    Close();
    sockaddr_un address;
    if (!MakeAddress(path, &address))
        return ENAMETOOLONG;
    if (int err = MakeFolder(path))
        return err;
    struct stat existing{};
    if (::lstat(path.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode))
            return EEXIST;
        if (!IsStale(address))
            return EADDRINUSE;
        ::unlink(path.c_str());
    }

    UniqueFd listener = StreamSocket();
    if (!listener)
        return errno;
    if (::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0)
        return errno;
    // bind() made the file with the umask's mode; until this chmod it is only narrower.
    struct stat made{};
    if (::chmod(path.c_str(), 0660) < 0 || ::lstat(path.c_str(), &made) < 0 ||
        ::listen(listener.Get(), 16) < 0) {
        int err = errno;
        ::unlink(path.c_str());
        return err;
    }
    for (EventFd* event : {&stop_, &pending_, &answered_}) {
        if (int err = event->Create()) {
            ::unlink(path.c_str());
            return err;
        }
    }
    path_ = path;
    device_ = made.st_dev;
    inode_ = made.st_ino;
    replies_ = std::move(replies);
    screen_ = std::move(screen);
    limits_ = limits;
    listener_ = std::move(listener);
    thread_ = std::thread([this] { Serve(); });
    return 0;
}

void ControlServer::Close()
{
    if (thread_.joinable()) {
        stop_.Raise();
        thread_.join();
    }
    if (!path_.empty()) {
        // Another run may have replaced a socket file it took for stale; leave that one be.
        struct stat now{};
        if (::lstat(path_.c_str(), &now) == 0 && now.st_dev == device_ && now.st_ino == inode_)
            ::unlink(path_.c_str());
        path_.clear();
    }
    listener_.Reset();
    std::lock_guard lock(mutex_);
    requests_.clear();
    answers_.clear();
}

void ControlServer::AnswerPending(const Answer& answer)
{
    pending_.Clear();
    std::deque<Request> requests;
    {
        std::lock_guard lock(mutex_);
        requests.swap(requests_);
    }
    if (requests.empty())
        return;
    std::vector<std::pair<std::uint64_t, std::string>> answers;
    for (const Request& request : requests)
        answers.emplace_back(request.id, answer(request.line));
    {
        std::lock_guard lock(mutex_);
        for (auto& a : answers)
            answers_.push_back(std::move(a));
    }
    answered_.Raise();
}

void ControlServer::Reply(Client& client, std::string text)
{
    client.reply = std::move(text);
    client.sent = 0;
    client.phase = Client::Phase::Writing;
    client.deadline = Deadline::After(limits_.replyTime);
    WriteTo(client);
}

bool ControlServer::Accept(std::vector<Client>& clients)
{
    // A handful at a time, so a flood of connections cannot keep the loop from its clients.
    for (int i = 0; i < 16; ++i) {
        UniqueFd fd(::accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!fd) // EAGAIN: none left. Out of descriptors, the listener would wake the loop at once.
            return errno == EAGAIN || errno == EINTR || errno == ECONNABORTED;
        if (clients.size() >= limits_.clients) {
            ::send(fd.Get(), replies_.busy.data(), replies_.busy.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            continue;
        }
        Client client;
        client.fd = std::move(fd);
        client.deadline = Deadline::After(limits_.requestTime);
        clients.push_back(std::move(client));
    }
    return true;
}

void ControlServer::ReadFrom(Client& client)
{
    char buffer[512];
    ssize_t n = ::recv(client.fd.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0) {
        if (errno != EAGAIN && errno != EINTR)
            client.phase = Client::Phase::Done;
        return;
    }
    const std::string_view bytes(buffer, static_cast<std::size_t>(n));
    const std::size_t end = bytes.find('\n');
    const std::string_view take = bytes.substr(0, end);
    if (client.line.size() + take.size() >= limits_.maxLine) {
        Reply(client, replies_.tooLong);
        return;
    }
    client.line.append(take);
    // The line ends at its line feed, or where the client stops sending (`printf status | nc`).
    if (end == std::string_view::npos && n > 0)
        return;
    if (end == std::string_view::npos && client.line.empty()) {
        client.phase = Client::Phase::Done; // closed without a word
        return;
    }
    if (std::optional<std::string> refused = screen_(client.line)) {
        Reply(client, std::move(*refused));
        return;
    }
    client.id = nextId_++;
    client.phase = Client::Phase::Waiting;
    client.deadline = Deadline::After(limits_.answerTime);
    {
        std::lock_guard lock(mutex_);
        requests_.push_back({client.id, client.line});
    }
    pending_.Raise();
}

void ControlServer::WriteTo(Client& client)
{
    while (client.sent < client.reply.size()) {
        ssize_t n = ::send(client.fd.Get(), client.reply.data() + client.sent,
                           client.reply.size() - client.sent, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0) {
            if (errno != EAGAIN && errno != EINTR)
                client.phase = Client::Phase::Done;
            return;
        }
        client.sent += static_cast<std::size_t>(n);
    }
    client.phase = Client::Phase::Done;
}

void ControlServer::Serve()
{
    std::vector<Client> clients;
    std::vector<pollfd> fds;
    Deadline listenAgain = Deadline::After(std::chrono::milliseconds(0));
    for (;;) {
        fds.clear();
        fds.push_back({stop_.Fd(), POLLIN, 0});
        fds.push_back({answered_.Fd(), POLLIN, 0});
        const bool listening = listenAgain.Expired();
        fds.push_back({listening ? listener_.Get() : -1, POLLIN, 0});
        Deadline next = listening ? Deadline::Never() : listenAgain;
        for (const Client& client : clients) {
            // A client waiting for the run is not polled: a hang-up would wake the loop at once,
            // over and over, until the answer came.
            const bool waiting = client.phase == Client::Phase::Waiting;
            const short events = client.phase == Client::Phase::Reading ? POLLIN : POLLOUT;
            fds.push_back({waiting ? -1 : client.fd.Get(), events, 0});
            next = Deadline::Earlier(next, client.deadline);
        }
        int n = ::poll(fds.data(), fds.size(), next.PollTimeoutMs());
        if (n < 0 && errno != EINTR)
            return;
        if (fds[0].revents != 0)
            return;

        if (fds[1].revents != 0) {
            answered_.Clear();
            std::vector<std::pair<std::uint64_t, std::string>> answers;
            {
                std::lock_guard lock(mutex_);
                answers.swap(answers_);
            }
            for (auto& [id, text] : answers) {
                auto it = std::find_if(clients.begin(), clients.end(), [id = id](const Client& c) {
                    return c.phase == Client::Phase::Waiting && c.id == id;
                });
                if (it != clients.end()) // else the client was told the run did not answer
                    Reply(*it, std::move(text));
            }
        }
        // fds[3 + i] belongs to clients[i] as they stood before this round's changes.
        const std::size_t polled = clients.size();
        for (std::size_t i = 0; i < polled; ++i) {
            Client& client = clients[i];
            const short revents = fds[3 + i].revents;
            if (client.phase == Client::Phase::Reading && revents != 0)
                ReadFrom(client);
            else if (client.phase == Client::Phase::Writing && revents != 0)
                WriteTo(client);
            if (client.phase == Client::Phase::Done || !client.deadline.Expired())
                continue;
            switch (client.phase) {
            case Client::Phase::Reading:
                Reply(client, replies_.silent);
                break;
            case Client::Phase::Waiting:
                Reply(client, replies_.unanswered);
                break;
            default:
                client.phase = Client::Phase::Done; // a reader that takes nothing
                break;
            }
            if (client.phase == Client::Phase::Writing)
                client.phase = Client::Phase::Done; // its time is up already; what went, went
        }
        std::erase_if(clients, [](const Client& c) {
            if (c.phase != Client::Phase::Done)
                return false;
            // Bytes left unread would make the close a reset, and the client could lose the
            // reply that told it why: take what is there (a bounded amount) first.
            char sink[4096];
            for (int i = 0; i < 16 && ::recv(c.fd.Get(), sink, sizeof sink, MSG_DONTWAIT) > 0; ++i) {
            }
            return true;
        });
        if (fds[2].revents != 0 && !Accept(clients))
            listenAgain = Deadline::After(std::chrono::milliseconds(100));
    }
}

} // namespace ostrim
