#pragma once
// The one serial port of the process. Reads take at most 80,968 bytes and
// wait at most 20 ms for the first byte, or as long as their caller asks
// (the receive thread sleeps in the read until bytes come, the port closes
// or the device vanishes); writes block until done or timed out and report
// the count written. A comm-event thread reports modem-line changes to the
// owner and lives exactly as long as the open port.
#include "common/WorkerThread.h"
#include "serial/SerialBackend.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

namespace pell {

constexpr int kReadChunkMax = 80968;    // one read takes at most this much
constexpr int kReadBufferSize = 80969;  // the caller's buffer, with its zero

enum ParityCode { NOPARITY = 0, ODDPARITY = 1, EVENPARITY = 2, MARKPARITY = 3, SPACEPARITY = 4 };
enum StopBitsCode { ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2 };

// Receives the port's notifications. Called on the comm-event thread or on
// the thread that read or wrote when the condition was found.
class ISerialOwner {
public:
    virtual ~ISerialOwner() = default;
    virtual void OnSerialNotify(int message, uint32_t value) = 0;
};

// Told at once when the open line goes away: the device vanished, or the
// port is being closed; and when a port has been opened. Called on the
// thread that found the loss (a reader or writer), on the closing or on the
// opening thread, while the port's state lock may be held: a watcher only
// records the fact and wakes its waiters, and never calls back into the port.
class ILineWatcher {
public:
    virtual ~ILineWatcher() = default;
    virtual void OnLineGone() = 0;
    virtual void OnLineOpened() {}
};

// Notification numbers (the owner's message numbers).
enum SerialMessage {
    kMsgCtsChange = 1126,
    kMsgDsrChange = 1127,
    kMsgRing = 1128,
    kMsgCarrierChange = 1130,
    kMsgBreak = 1131,
    kMsgTxEmpty = 1132,
    kMsgLineError = 1133,
    kMsgDeviceLost = 1134, // the device vanished (adapter pulled, far end closed)
};

class CSerial {
public:
    // Makes the device part of each opening (the platform's by default; an
    // in-memory line, say, for a port without a device behind it).
    using BackendMaker = std::function<std::unique_ptr<SerialBackend>()>;

    CSerial();
    explicit CSerial(BackendMaker makeBackend);
    virtual ~CSerial();
    CSerial(const CSerial&) = delete;
    CSerial& operator=(const CSerial&) = delete;

    // Opens the port named by its text with the given line settings. A
    // failure after the device was opened (queues, time-outs, line settings)
    // returns false and leaves the port open, as the user then sees it.
    bool OpenPort(const std::string& portText, unsigned baud, int parity, int dataBits,
                  int stopBits);
    void ClosePort();
    bool IsOpen() const { return open_.load(std::memory_order_acquire); }
    // True once the open device has vanished; cleared by ClosePort.
    bool IsLost() const { return lost_.load(std::memory_order_acquire); }

    // Why the last OpenPort failed, and the device path it tried.
    OpenError LastOpenError() const;
    std::string LastOpenDetail() const;
    std::string DevicePath() const;

    // Reads what the driver holds, waiting at most 20 ms for the first byte.
    // `buffer` must hold kReadBufferSize bytes. Returns the count (0 when
    // nothing arrived, on line errors and when no port is open).
    int ReadAvailable(char* buffer) { return ReadAvailable(buffer, kReadWaitMs); }
    // The same, waiting at most `waitMs` (kWaitForever: until bytes come,
    // the port closes, the device is found gone or InterruptRead()). A lost
    // device returns 0 at once and then waits like an empty line.
    int ReadAvailable(char* buffer, int waitMs);
    // Ends the read under way (or else the next one) with 0 at once.
    void InterruptRead();
    // Blocking write; serialised between threads. Returns the count written.
    int Write(const char* bytes, int count);

    void SetOwner(ISerialOwner* owner) { owner_.store(owner, std::memory_order_release); }
    // Any number of watchers; a watcher removes itself before it goes away
    // (RemoveLineWatcher waits for a notification that is under way).
    void AddLineWatcher(ILineWatcher* watcher);
    void RemoveLineWatcher(ILineWatcher* watcher);
    void SetReceiveThreshold(int threshold) { threshold_.store(threshold); }

    // Line time-outs (milliseconds): reads wait at most this for a byte ...
    static constexpr int kReadWaitMs = 20;
    static constexpr int kWaitForever = -1;
    // ... and a write of n bytes may take kWriteConstantMs + n * kWriteMultiplierMs.
    static constexpr int kWriteConstantMs = 1000;
    static constexpr int kWriteMultiplierMs = 1;

    // Notification handlers; the owner gets the message numbers above.
    virtual void OnCtsChange();
    virtual void OnDsrChange();
    virtual void OnRing();
    virtual void OnCarrierChange();
    virtual void OnBreak();
    virtual void OnLineError(uint32_t errors);
    virtual void OnCharReceived() {}
    virtual void OnTxEmpty();
    virtual int EventLoop();

private:
    void notify(int message, uint32_t value);
    void markLost();
    void tellWatchers();
    void tellWatchersOpened();
    void closeLocked();

    mutable std::mutex stateMutex_;     // open/close and the error fields
    std::shared_mutex deviceMutex_;     // readers/writers share, close excludes
    std::mutex writeMutex_;             // one writer at a time
    std::mutex watchMutex_;             // the watcher list, held while telling them
    std::vector<ILineWatcher*> watchers_;
    BackendMaker makeBackend_;
    std::unique_ptr<SerialBackend> backend_;
    WorkerThread eventThread_; // its stop flag asks EventLoop to end
    std::atomic<bool> open_{false};
    std::atomic<bool> closing_{false};
    std::atomic<bool> lost_{false};
    std::atomic<ISerialOwner*> owner_{nullptr};
    std::atomic<int> threshold_{0};
    OpenError lastError_ = OpenError::None;
    std::string lastDetail_;
    std::string devicePath_;
};

} // namespace pell
