#include "serial/CSerial.h"

namespace pell {

CSerial::CSerial() = default;

CSerial::CSerial(BackendMaker makeBackend) : makeBackend_(std::move(makeBackend)) {}

CSerial::~CSerial()
{
    ClosePort();
}

bool CSerial::OpenPort(const std::string& portText, unsigned baud, int parity, int dataBits,
                       int stopBits)
{
    std::lock_guard<std::mutex> state(stateMutex_);
    if (open_.load()) {
        lastError_ = OpenError::Busy;
        lastDetail_ = "a port is already open";
        return false;
    }
    auto backend = makeBackend_ ? makeBackend_() : MakePlatformSerialBackend();
    std::string detail;
    OpenError err = backend->open(portText, detail);
    lastError_ = err;
    lastDetail_ = detail;
    if (err != OpenError::None)
        return false;
    // Queues, time-outs and low latency before the port is published and its
    // event thread starts, so every thread sees the driver's abilities as
    // they were found.
    const bool prepared = backend->prepare();

    {
        std::unique_lock<std::shared_mutex> device(deviceMutex_);
        backend_ = std::move(backend);
        devicePath_ = detail;
        lost_.store(false);
        closing_.store(false);
        open_.store(true, std::memory_order_release);
    }
    bool started = false;
    try {
        started = eventThread_.Start([this] { EventLoop(); }, "line-events");
    } catch (...) {
    }
    if (!started) {
        closeLocked();
        lastError_ = OpenError::Other;
        lastDetail_ = "the event thread could not be started";
        return false;
    }
    // A receive thread that sleeps while no port is open reads from now on.
    tellWatchersOpened();

    // From here on a failure leaves the port open: the user sees it open and
    // closes it before trying other settings.
    std::shared_lock<std::shared_mutex> device(deviceMutex_);
    if (!prepared) {
        lastError_ = OpenError::Other;
        lastDetail_ = "the driver refused the queue or time-out settings";
        return false;
    }
    backend_->purge(true, true);
    LineSettings s;
    s.baud = baud;
    s.parity = parity;
    s.dataBits = dataBits;
    s.stopBits = stopBits;
    if (!backend_->setLineSettings(s)) {
        lastError_ = OpenError::Other;
        lastDetail_ = "the driver does not support these line settings";
        return false;
    }
    return true;
}

void CSerial::ClosePort()
{
    std::lock_guard<std::mutex> state(stateMutex_);
    closeLocked();
}

void CSerial::closeLocked()
{
    if (!open_.load())
        return;
    closing_.store(true);
    // Whoever waits for an answer on this line stops waiting now.
    tellWatchers();
    // The event thread's stop flag first, then every pending read, write and
    // wait returns. The event thread may sit in the driver's modem wait,
    // which only a signal interrupts: it is interrupted until it has left
    // its loop (it never waits for anything else), then joined.
    eventThread_.Stop([this] {
        std::shared_lock<std::shared_mutex> device(deviceMutex_);
        backend_->wake();
        backend_->interruptEventWait();
    });
    {
        std::shared_lock<std::shared_mutex> device(deviceMutex_);
        backend_->wake(); // also when no event thread ran
    }
    std::unique_lock<std::shared_mutex> device(deviceMutex_);
    backend_->close();
    backend_.reset();
    open_.store(false, std::memory_order_release);
    lost_.store(false);
    devicePath_.clear();
}

OpenError CSerial::LastOpenError() const
{
    std::lock_guard<std::mutex> state(stateMutex_);
    return lastError_;
}

std::string CSerial::LastOpenDetail() const
{
    std::lock_guard<std::mutex> state(stateMutex_);
    return lastDetail_;
}

std::string CSerial::DevicePath() const
{
    std::lock_guard<std::mutex> state(stateMutex_);
    return devicePath_;
}

int CSerial::ReadAvailable(char* buffer, int waitMs)
{
    if (!open_.load(std::memory_order_acquire) || closing_.load())
        return 0;
    std::shared_lock<std::shared_mutex> device(deviceMutex_);
    if (!backend_ || closing_.load())
        return 0;
    if (lost_.load()) {
        // Nothing more will come; wait like an empty read instead of spinning.
        char none;
        backend_->read(&none, 0, waitMs);
        return 0;
    }
    if (uint32_t errors = backend_->takeLineErrors()) {
        backend_->purge(true, false);
        OnLineError(errors);
        return 0;
    }
    int n = backend_->read(buffer, kReadChunkMax, waitMs);
    if (n < 0) {
        device.unlock();
        markLost();
        return 0;
    }
    return n;
}

void CSerial::InterruptRead()
{
    std::shared_lock<std::shared_mutex> device(deviceMutex_);
    if (backend_)
        backend_->interruptRead();
}

int CSerial::Write(const char* bytes, int count)
{
    if (count <= 0 || !open_.load(std::memory_order_acquire) || closing_.load())
        return 0;
    std::lock_guard<std::mutex> writer(writeMutex_);
    std::shared_lock<std::shared_mutex> device(deviceMutex_);
    if (!backend_ || closing_.load() || lost_.load())
        return 0;
    if (uint32_t errors = backend_->takeLineErrors()) {
        backend_->purge(true, false);
        OnLineError(errors);
        return 0;
    }
    int n = backend_->write(bytes, count, kWriteConstantMs + count * kWriteMultiplierMs);
    if (n < 0) {
        device.unlock();
        markLost();
        return 0;
    }
    return n;
}

void CSerial::markLost()
{
    // The flag first, so a watcher or owner that looks sees the port lost.
    if (!lost_.exchange(true)) {
        tellWatchers();
        notify(kMsgDeviceLost, 0);
    }
}

void CSerial::AddLineWatcher(ILineWatcher* watcher)
{
    std::lock_guard<std::mutex> lock(watchMutex_);
    watchers_.push_back(watcher);
}

void CSerial::RemoveLineWatcher(ILineWatcher* watcher)
{
    std::lock_guard<std::mutex> lock(watchMutex_);
    std::erase(watchers_, watcher);
}

void CSerial::tellWatchers()
{
    std::lock_guard<std::mutex> lock(watchMutex_);
    for (ILineWatcher* w : watchers_)
        w->OnLineGone();
}

void CSerial::tellWatchersOpened()
{
    std::lock_guard<std::mutex> lock(watchMutex_);
    for (ILineWatcher* w : watchers_)
        w->OnLineOpened();
}

void CSerial::notify(int message, uint32_t value)
{
    if (ISerialOwner* owner = owner_.load(std::memory_order_acquire))
        owner->OnSerialNotify(message, value);
}

void CSerial::OnCtsChange()
{
    uint32_t status = backend_ ? backend_->modemStatus() : 0;
    notify(kMsgCtsChange, (status & kEvCts) ? 1 : 0);
}

void CSerial::OnDsrChange()
{
    uint32_t status = backend_ ? backend_->modemStatus() : 0;
    notify(kMsgDsrChange, (status & kEvDsr) ? 1 : 0);
}

void CSerial::OnRing() { notify(kMsgRing, 0); }
void CSerial::OnCarrierChange() { notify(kMsgCarrierChange, 0); }
void CSerial::OnBreak() { notify(kMsgBreak, 0); }
void CSerial::OnLineError(uint32_t errors) { notify(kMsgLineError, errors); }
void CSerial::OnTxEmpty() { notify(kMsgTxEmpty, 0); }

int CSerial::EventLoop()
{
    // The backend pointer is stable while the event thread runs: the close
    // joins this thread before it replaces the backend.
    SerialBackend* backend;
    {
        std::shared_lock<std::shared_mutex> device(deviceMutex_);
        backend = backend_.get();
    }
    while (!eventThread_.Stopping()) {
        uint32_t events = 0, errors = 0;
        if (!backend->waitEvents(events, errors))
            continue; // woken for the close, or nothing to wait for
        if (events & kEvCts)
            OnCtsChange();
        if (events & kEvDsr)
            OnDsrChange();
        if (events & kEvCarrier)
            OnCarrierChange();
        if (events & kEvRing)
            OnRing();
        if (events & kEvBreak)
            OnBreak();
        if (errors)
            OnLineError(errors);
    }
    return 0;
}

} // namespace pell
