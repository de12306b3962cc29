#include "run/Session.h"

#include "gps/PortMonitor.h"

namespace ostrim {

namespace {
constexpr char kReceiverLost[] = "GPS receiver disconnected";
} // namespace

// The engine's own texts after the receiver has gone come from its timers, unasked; the
// disconnection is shown again after each, so the operator still sees why nothing moves.
class Session::EngineFields : public DialogFields {
public:
    EngineFields(DialogFields& fields, const std::atomic<bool>& receiverLost)
        : fields_(fields), receiverLost_(receiverLost)
    {
    }
    void SetText(Field field, const std::string& text) override
    {
        fields_.SetText(field, text);
        if (field == Field::Status && receiverLost_.load())
            fields_.SetText(Field::Status, kReceiverLost);
    }
    std::string GetText(Field field) const override { return fields_.GetText(field); }
    void ShowMessage(const std::string& text) override { fields_.ShowMessage(text); }

private:
    DialogFields& fields_;
    const std::atomic<bool>& receiverLost_;
};

// Feeds the GPS port's characters into the chain, one at a time, and asks for the next only
// when the chain is done with this one.
class Session::ReaderLink : public GpsReceiverLink {
public:
    explicit ReaderLink(Session& session) : session_(session) {}

    int Open(const std::string& path, int& error) override
    {
        Stop(); // a reader ended here is not a receiver lost
        monitor_ = std::make_unique<PortMonitor>();
        monitor_->SetCallback(&ReaderLink::Notify, this);
        stopping_.store(false);
        // The receiver's line: 38400 baud, no parity, 8 data bits, modem lines watched.
        const int result = monitor_->Open(path.c_str(), 38400, 0, 8, 1);
        error = result == 0 ? 0 : monitor_->LastError();
        if (result != 0)
            monitor_.reset();
        else
            session_.receiverLost_.store(false);
        return result;
    }

    bool Running() const override { return monitor_ && monitor_->Running(); }

    void Stop() override
    {
        stopping_.store(true);
        if (monitor_)
            monitor_->Stop();
    }

private:
    static void Notify(PortMonitor* monitor, std::int32_t code, void* context)
    {
        auto* self = static_cast<ReaderLink*>(context);
        if (monitor == nullptr || self == nullptr)
            return;
        if (code == 3) {
            self->session_.input_.AssembleSentence(monitor->GetReadCount(), monitor->GetReadBuffer());
            monitor->RequestNextRead();
        } else if (code == 1 && !self->stopping_.load()) {
            self->session_.receiverLost_.store(true);
            self->session_.fields_.SetText(Field::Status, kReceiverLost);
            if (self->session_.hooks_.onDisconnected)
                self->session_.hooks_.onDisconnected();
        }
    }

    Session& session_;
    std::unique_ptr<PortMonitor> monitor_;
    std::atomic<bool> stopping_{false};
};

class Session::PingCheck : public BaseStationCheck {
public:
    // The list entry's text, mapped as the node commands map it: a check of another device
    // than the one they open would switch triggering off for nothing.
    Result Check(const std::string& listText) override
    {
        const std::string port = PortNameFromListText(listText);
        BaseStationPortHandle handle = OpenBaseStationPort(port.c_str());
        if (handle == nullptr)
            return kOpenFailed;
        const int ping = PingBaseStation(handle);
        CloseBaseStationPort(handle);
        return ping == 0 ? kOk : kPingFailed;
    }
};

Session::Session(DialogFields& fields, TimerService& timers, Hooks hooks)
    : fields_(fields), hooks_(std::move(hooks)),
      baseStation_(fields, hooks_.selectedBasePort ? hooks_.selectedBasePort
                                                   : std::function<std::string()>([] { return std::string(); })),
      engineFields_(std::make_unique<EngineFields>(fields, receiverLost_)),
      engine_(state_, table_, *engineFields_, timers, baseStation_, hooks_.trace),
      spacing_(state_, fields, engine_, hooks_.onSpacing), input_(state_, fields, logs_, spacing_), reader_(std::make_unique<ReaderLink>(*this)),
      pingCheck_(std::make_unique<PingCheck>()),
      control_(state_, table_, fields, *reader_, *pingCheck_)
{
    control_.SetOnTriggerOff([this] { engine_.VoidPlans(); });
}

Session::~Session()
{
    Stop();
}

std::string Session::LateFiringsText() const
{
    if (state_.predictive.load() == 0)
        return {};
    return "Predictive trigger: " + std::to_string(engine_.LateFirings()) +
           " firings late (a firing region crossed between fixes, unseen)";
}

void Session::Stop()
{
    baseStation_.Stop(); // a switch stuck on the base station would hold the reader's join
    reader_->Stop();
}

} // namespace ostrim
