#include "platform/posix/SerialDevice.h"

#include "platform/posix/Deadline.h"
#include "platform/posix/FdIo.h"
#include "platform/posix/Poll.h"
#include "platform/posix/RawTermios.h"

#include <fcntl.h>
#include <linux/major.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace ostrim {
namespace {

struct BaudSpeed {
    int baud;
    speed_t speed;
};

constexpr BaudSpeed kBaudSpeeds[] = {
    {50, B50},         {75, B75},           {110, B110},         {134, B134},
    {150, B150},       {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},     {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},     {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200}, {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000}, {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool SpeedOf(int baud, speed_t* speed)
{
    for (const BaudSpeed& b : kBaudSpeeds) {
        if (b.baud == baud) {
            *speed = b.speed;
            return true;
        }
    }
    return false;
}

int BaudOf(speed_t speed)
{
    for (const BaudSpeed& b : kBaudSpeeds) {
        if (b.speed == speed)
            return b.baud;
    }
    return 0;
}

bool SizeFlag(int byteSize, tcflag_t* flag)
{
    switch (byteSize) {
    case 5: *flag = CS5; return true;
    case 6: *flag = CS6; return true;
    case 7: *flag = CS7; return true;
    case 8: *flag = CS8; return true;
    default: return false;
    }
}

int SizeOf(tcflag_t cflag)
{
    switch (cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
    }
}

// A clean ioctl result: 0 or errno.
int Ioctl(int fd, unsigned long request, void* arg)
{
    return ::ioctl(fd, request, arg) < 0 ? errno : 0;
}

} // namespace

bool IsNoModemLines(int error)
{
    return error == ENOTTY || error == EINVAL;
}

bool MakeRaw(const SerialSettings& settings, termios* tio)
{
    speed_t speed;
    tcflag_t size;
    if (!SpeedOf(settings.baudRate, &speed) || !SizeFlag(settings.byteSize, &size))
        return false;
    tio->c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                           ICRNL | IXON | IXOFF | IXANY | IMAXBEL | IUTF8 |
                                           IGNPAR | INPCK);
    tio->c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio->c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    tio->c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio->c_cflag |= CLOCAL | CREAD | size;
    if (settings.parity != Parity::None) {
        tio->c_cflag |= PARENB;
        tio->c_iflag |= INPCK;
        if (settings.parity == Parity::Odd)
            tio->c_cflag |= PARODD;
    }
    tio->c_cc[VMIN] = 1;
    tio->c_cc[VTIME] = 0;
    return ::cfsetispeed(tio, speed) == 0 && ::cfsetospeed(tio, speed) == 0;
}

bool TtyOutlivesLastClose(dev_t device)
{
    const unsigned int number = major(device);
    return number == PTY_SLAVE_MAJOR ||
           (number >= UNIX98_PTY_SLAVE_MAJOR &&
            number < UNIX98_PTY_SLAVE_MAJOR + UNIX98_PTY_MAJOR_COUNT);
}

bool IsSupportedBaudRate(int baudRate)
{
    speed_t unused;
    return SpeedOf(baudRate, &unused);
}

int WaitForEmptyOutput(const std::function<int(int* queued)>& queuedBytes, const Deadline& limit,
                       int stopFd)
{
    // One look each byte time at 38400 baud (0.26 ms), so the next byte follows the last one on
    // the line about as closely as after tcdrain(); poll()'s milliseconds would space them 1 ms.
    constexpr timespec kLook{.tv_sec = 0, .tv_nsec = 250'000};
    for (;;) {
        int queued = 0;
        if (int err = queuedBytes(&queued))
            return err;
        if (queued <= 0)
            return 0;
        if (limit.Expired())
            return ETIMEDOUT;
        pollfd stop{.fd = stopFd, .events = POLLIN, .revents = 0};
        int n = ::ppoll(&stop, stopFd >= 0 ? 1 : 0, &kLook, nullptr);
        if (n < 0 && errno != EINTR)
            return errno;
        if (n > 0)
            return ECANCELED;
    }
}

SerialDevice::~SerialDevice()
{
    Close();
}

SerialDevice& SerialDevice::operator=(SerialDevice&& other) noexcept
{
    if (this != &other) {
        Close();
        fd_ = std::move(other.fd_);
    }
    return *this;
}

int SerialDevice::Open(const std::string& path)
{
    Close();
    // Non-blocking so that the open itself never waits for carrier detect.
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!fd)
        return errno;
    // The lock first: a failed attempt must not touch the tty's flags, which belong to the
    // holder.
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) < 0)
        return errno == EWOULDBLOCK ? EBUSY : errno;
    struct stat status{};
    if (::fstat(fd.Get(), &status) < 0)
        return errno;
    if (!S_ISCHR(status.st_mode) || !TtyOutlivesLastClose(status.st_rdev)) {
        int err = Ioctl(fd.Get(), TIOCEXCL, nullptr);
        if (err != 0 && err != ENOTTY)
            return err;
    }
    fd_ = std::move(fd);
    return 0;
}

int SerialDevice::Configure(const SerialSettings& settings)
{
    if (!fd_)
        return EBADF;
    termios tio{};
    if (::tcgetattr(fd_.Get(), &tio) < 0)
        return errno;
    if (!MakeRaw(settings, &tio))
        return EINVAL;
    while (::tcsetattr(fd_.Get(), TCSANOW, &tio) < 0) {
        if (errno != EINTR)
            return errno;
    }

    // tcsetattr succeeds when any one of the changes was taken; check that all were.
    termios now{};
    if (::tcgetattr(fd_.Get(), &now) < 0)
        return errno;
    constexpr tcflag_t kLocal = ECHO | ICANON | ISIG | IEXTEN;
    constexpr tcflag_t kInput = ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF | IXANY | INPCK;
    constexpr tcflag_t kControl = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CLOCAL | CREAD;
    bool same = (now.c_lflag & kLocal) == (tio.c_lflag & kLocal) &&
                (now.c_iflag & kInput) == (tio.c_iflag & kInput) &&
                (now.c_oflag & OPOST) == (tio.c_oflag & OPOST) &&
                (now.c_cflag & kControl) == (tio.c_cflag & kControl) &&
                ::cfgetispeed(&now) == ::cfgetispeed(&tio) &&
                ::cfgetospeed(&now) == ::cfgetospeed(&tio);
    return same ? 0 : EINVAL;
}

int SerialDevice::ReadSettings(SerialSettings* settings) const
{
    if (!fd_)
        return EBADF;
    termios tio{};
    if (::tcgetattr(fd_.Get(), &tio) < 0)
        return errno;
    settings->baudRate = BaudOf(::cfgetospeed(&tio));
    settings->byteSize = SizeOf(tio.c_cflag);
    if (!(tio.c_cflag & PARENB))
        settings->parity = Parity::None;
    else
        settings->parity = (tio.c_cflag & PARODD) ? Parity::Odd : Parity::Even;
    return 0;
}

int SerialDevice::AssertDtrRts()
{
    if (!fd_)
        return EBADF;
    int lines = TIOCM_DTR | TIOCM_RTS;
    return Ioctl(fd_.Get(), TIOCMBIS, &lines);
}

int SerialDevice::GetModemLines(ModemLines* lines) const
{
    if (!fd_)
        return EBADF;
    int status = 0;
    if (int err = Ioctl(fd_.Get(), TIOCMGET, &status))
        return err;
    *lines = ModemLines{};
    lines->ring = (status & TIOCM_RI) != 0;
    lines->carrierDetect = (status & TIOCM_CD) != 0;
    serial_icounter_struct counts{};
    if (Ioctl(fd_.Get(), TIOCGICOUNT, &counts) == 0) {
        lines->haveCounts = true;
        lines->ringCount = static_cast<std::uint32_t>(counts.rng);
        lines->carrierDetectCount = static_cast<std::uint32_t>(counts.dcd);
    }
    return 0;
}

int SerialDevice::ReadAvailable(std::uint8_t* buffer, std::size_t size, std::size_t* got)
{
    *got = 0;
    return fd_ ? ReadNow(fd_.Get(), buffer, size, got) : EBADF;
}

int SerialDevice::Read(std::uint8_t* buffer, std::size_t count, ReadTimeouts timeouts,
                       std::size_t* got)
{
    *got = 0;
    if (!fd_)
        return EBADF;
    const Deadline total = Deadline::After(timeouts.total);
    Deadline gap = Deadline::Never();
    while (*got < count) {
        Deadline wait = Deadline::Earlier(total, gap);
        PollEntry port{.fd = fd_.Get(), .wantRead = true};
        if (int err = PollUntil({&port, 1}, wait))
            return err;
        if (port.error && !port.readable && !port.hangup)
            return EIO;
        if (!port.Ready())
            break; // a time-out ran out
        std::size_t n = 0;
        if (int err = ReadAvailable(buffer + *got, count - *got, &n))
            return err;
        *got += n;
        if (n > 0 && timeouts.interByte.count() > 0)
            gap = Deadline::After(timeouts.interByte);
    }
    return 0;
}

int SerialDevice::Write(const std::uint8_t* bytes, std::size_t count,
                        std::chrono::milliseconds stall, std::size_t* written,
                        const Deadline& limit, int stopFd)
{
    *written = 0;
    return fd_ ? WriteAll(fd_.Get(), bytes, count, stall, written, limit, stopFd) : EBADF;
}

int SerialDevice::Drain(const Deadline& limit, int stopFd)
{
    if (!fd_)
        return EBADF;
    const int fd = fd_.Get();
    return WaitForEmptyOutput([fd](int* queued) { return Ioctl(fd, TIOCOUTQ, queued); }, limit,
                              stopFd);
}

int SerialDevice::DiscardInput()
{
    if (!fd_)
        return EBADF;
    return ::tcflush(fd_.Get(), TCIFLUSH) < 0 ? errno : 0;
}

int SerialDevice::DiscardOutput()
{
    if (!fd_)
        return EBADF;
    return ::tcflush(fd_.Get(), TCOFLUSH) < 0 ? errno : 0;
}

int SerialDevice::Close()
{
    if (!fd_)
        return 0;
    ::ioctl(fd_.Get(), TIOCNXCL);
    ::flock(fd_.Get(), LOCK_UN);
    if (fd_.Reset() < 0 && errno != EINTR)
        return errno;
    return 0;
}

} // namespace ostrim
