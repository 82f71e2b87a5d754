// Win32 serial port: a COM device opened exclusively for overlapped I/O.
// Every wait is a WaitForMultipleObjects on the operation's own event and
// the backend's wake event (set for good when the port closes) and, for
// reads, an interrupt event that ends one read. An operation that is left
// before it completed is cancelled and waited for, so the driver never
// writes into an OVERLAPPED or a buffer that has gone.
//
// Data never depends on the comm events: a read first takes what the driver
// has queued (ClearCommError), and when nothing is queued it waits in a
// one-byte overlapped ReadFile, so a driver that cannot report EV_RXCHAR or
// modem lines (a pseudo-terminal behind Wine, some USB adapters) still
// delivers every byte at once.
#include "serial/WinSerialBackend.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>

namespace pell {

namespace {

// Queues, time-outs (milliseconds) and the line events the port reports.
constexpr DWORD kQueueBytes = 4096;
constexpr DWORD kReadIntervalMs = 100;
constexpr DWORD kReadMultiplierMs = 1;
constexpr DWORD kReadConstantMs = 1000;
constexpr DWORD kWriteMultiplierMs = 1;
constexpr DWORD kWriteConstantMs = 1000;
constexpr DWORD kEventMask = EV_CTS | EV_DSR | EV_RLSD | EV_BREAK | EV_ERR | EV_RING;
// An empty comm event or an empty read that the driver ended at once is
// followed by this pause instead of a new wait at once.
constexpr DWORD kEmptyEventPauseMs = 20;

std::string systemMessage(DWORD error)
{
    char* text = nullptr;
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = n && text ? std::string(text, n) : "error " + std::to_string(error);
    if (text)
        ::LocalFree(text);
    while (!message.empty() && (message.back() == '\r' || message.back() == '\n' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message;
}

// A transfer that the driver ended after its time-outs: whatever it moved
// is its result (some drivers report this as a failure, Windows as success).
bool timedOut(DWORD error)
{
    return error == ERROR_TIMEOUT || error == ERROR_SEM_TIMEOUT;
}

bool isSet(HANDLE event)
{
    return ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

class WinSerialBackend : public SerialBackend {
public:
    ~WinSerialBackend() override { close(); }

    OpenError open(const std::string& portText, std::string& detail) override
    {
        const std::string path = WindowsDevicePath(portText);
        if (path.empty()) {
            detail = "not a port from COM1 to COM1024: " + portText;
            return OpenError::InvalidName;
        }
        HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD e = ::GetLastError();
            detail = path + ": " + systemMessage(e);
            switch (e) {
            case ERROR_FILE_NOT_FOUND:
            case ERROR_PATH_NOT_FOUND:
            case ERROR_DEV_NOT_EXIST:
            case ERROR_BAD_UNIT:
                return OpenError::NotFound;
            case ERROR_ACCESS_DENIED: // what Windows answers for a port in use
            case ERROR_SHARING_VIOLATION:
            case ERROR_BUSY:
                return OpenError::Busy;
            default:
                return OpenError::Other;
            }
        }
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(h, &dcb)) {
            ::CloseHandle(h);
            detail = path + ": not a serial device";
            return OpenError::InvalidName;
        }
        wake_ = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        interrupt_ = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
        readOv_.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        writeOv_.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        waitOv_.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!wake_ || !interrupt_ || !readOv_.hEvent || !writeOv_.hEvent || !waitOv_.hEvent) {
            detail = path + ": " + systemMessage(::GetLastError());
            ::CloseHandle(h);
            close();
            return OpenError::Other;
        }
        handle_ = h;
        detail = path;
        return OpenError::None;
    }

    bool prepare() override
    {
        if (!::SetupComm(handle_, kQueueBytes, kQueueBytes))
            return false;
        COMMTIMEOUTS t{};
        if (!::GetCommTimeouts(handle_, &t))
            return false;
        t.ReadIntervalTimeout = kReadIntervalMs;
        t.ReadTotalTimeoutMultiplier = kReadMultiplierMs;
        t.ReadTotalTimeoutConstant = kReadConstantMs;
        t.WriteTotalTimeoutMultiplier = kWriteMultiplierMs;
        t.WriteTotalTimeoutConstant = kWriteConstantMs;
        return ::SetCommTimeouts(handle_, &t) != 0;
    }

    bool setLineSettings(const LineSettings& s) override
    {
        if (s.baud == 0 || s.dataBits < 5 || s.dataBits > 8 || s.parity < 0 || s.parity > 4 ||
            s.stopBits < 0 || s.stopBits > 2)
            return false;
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(handle_, &dcb))
            return false;
        // Flow control and the special characters stay as the driver has them.
        dcb.BaudRate = s.baud;
        dcb.ByteSize = static_cast<BYTE>(s.dataBits);
        dcb.StopBits = static_cast<BYTE>(s.stopBits); // ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS
        dcb.Parity = static_cast<BYTE>(s.parity);     // NOPARITY ... SPACEPARITY
        if (s.parity != 0)
            dcb.fParity = TRUE;
        return ::SetCommState(handle_, &dcb) != 0;
    }

    bool driverLineSettings(LineSettings& s, bool& parityCheck)
    {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (handle_ == INVALID_HANDLE_VALUE || !::GetCommState(handle_, &dcb))
            return false;
        s.baud = dcb.BaudRate;
        s.dataBits = dcb.ByteSize;
        s.stopBits = dcb.StopBits;
        s.parity = dcb.Parity;
        parityCheck = dcb.fParity != 0;
        return true;
    }

    void purge(bool rx, bool tx) override
    {
        DWORD flags = 0;
        if (rx)
            flags |= PURGE_RXABORT | PURGE_RXCLEAR;
        if (tx)
            flags |= PURGE_TXABORT | PURGE_TXCLEAR;
        if (flags)
            ::PurgeComm(handle_, flags);
    }

    uint32_t takeLineErrors() override
    {
        uint32_t flags = pendingErrors_.exchange(0);
        DWORD errors = 0;
        COMSTAT status{};
        if (::ClearCommError(handle_, &errors, &status))
            flags |= translateErrors(errors);
        return flags;
    }

    int read(char* buffer, int max, int waitMs) override
    {
        if (isSet(wake_) || isSet(interrupt_))
            return 0;
        if (max <= 0) {
            HANDLE waits[] = {wake_, interrupt_};
            ::WaitForMultipleObjects(2, waits, FALSE, waitMs < 0 ? INFINITE : DWORD(waitMs));
            return 0;
        }
        std::lock_guard<std::mutex> lock(readMutex_);
        int n = readQueued(buffer, max);
        if (n != 0)
            return n;
        // Nothing queued: wait for the first byte in a one-byte read. The
        // driver ends it with no byte after its read time-out; it is then
        // asked again until the caller's wait has passed.
        const ULONGLONG deadline = waitMs < 0 ? 0 : ::GetTickCount64() + ULONGLONG(waitMs);
        for (;;) {
            DWORD timeout = INFINITE;
            if (waitMs >= 0) {
                const ULONGLONG now = ::GetTickCount64();
                timeout = now >= deadline ? 0 : DWORD(deadline - now);
            }
            DWORD got = 0;
            bool atOnce = true; // ended without waiting
            if (::ReadFile(handle_, buffer, 1, nullptr, &readOv_)) {
                ::GetOverlappedResult(handle_, &readOv_, &got, FALSE);
            } else if (const DWORD e = ::GetLastError(); e != ERROR_IO_PENDING) {
                if (!timedOut(e))
                    return failedIo(e);
            } else {
                atOnce = false;
                HANDLE waits[] = {readOv_.hEvent, wake_, interrupt_};
                const DWORD r = ::WaitForMultipleObjects(3, waits, FALSE, timeout);
                if (r == WAIT_OBJECT_0) {
                    if (!::GetOverlappedResult(handle_, &readOv_, &got, FALSE)) {
                        const DWORD failed = ::GetLastError();
                        if (!timedOut(failed))
                            return failedIo(failed);
                    }
                } else {
                    // Woken, interrupted or out of time: the read ends now,
                    // keeping a byte that came meanwhile.
                    got = finish(readOv_);
                    if (got == 0)
                        return 0;
                }
            }
            if (got > 0) {
                int more = max > 1 ? readQueued(buffer + 1, max - 1) : 0;
                return 1 + std::max(more, 0);
            }
            if (isSet(wake_) || (waitMs >= 0 && ::GetTickCount64() >= deadline))
                return 0;
            if (atOnce) {
                // A driver that ends empty reads at once is asked again
                // after a pause, not in a busy loop.
                HANDLE waits[] = {wake_, interrupt_};
                if (::WaitForMultipleObjects(2, waits, FALSE, std::min<DWORD>(timeout, kEmptyEventPauseMs)) !=
                    WAIT_TIMEOUT)
                    return 0; // woken or interrupted
            }
            if (isSet(interrupt_))
                return 0;
        }
    }

    void interruptRead() override
    {
        if (interrupt_)
            ::SetEvent(interrupt_);
    }

    int write(const char* bytes, int count, int timeoutMs) override
    {
        if (isSet(wake_) || count <= 0)
            return 0;
        std::lock_guard<std::mutex> lock(writeMutex_);
        DWORD written = 0;
        if (::WriteFile(handle_, bytes, DWORD(count), nullptr, &writeOv_)) {
            ::GetOverlappedResult(handle_, &writeOv_, &written, FALSE);
            return int(written);
        }
        const DWORD e = ::GetLastError();
        if (e != ERROR_IO_PENDING)
            return failedIo(e);
        HANDLE waits[] = {writeOv_.hEvent, wake_};
        const DWORD r = ::WaitForMultipleObjects(2, waits, FALSE, timeoutMs < 0 ? INFINITE : DWORD(timeoutMs));
        if (r == WAIT_OBJECT_0) {
            if (!::GetOverlappedResult(handle_, &writeOv_, &written, FALSE)) {
                const DWORD e2 = ::GetLastError();
                if (!timedOut(e2) && failedIo(e2) < 0)
                    return -1;
            }
            return int(written);
        }
        return int(finish(writeOv_)); // what went out before the time-out or the close
    }

    bool waitEvents(uint32_t& events, uint32_t& lineErrors) override
    {
        events = 0;
        lineErrors = 0;
        if (isSet(wake_))
            return false;
        if (!eventsWork_) {
            ::WaitForSingleObject(wake_, INFINITE);
            return false;
        }
        if (!maskSet_) {
            if (!::SetCommMask(handle_, kEventMask)) {
                eventsWork_ = false; // reads and writes go on without events
                return false;
            }
            maskSet_ = true;
        }
        DWORD mask = 0;
        if (!::WaitCommEvent(handle_, &mask, &waitOv_)) {
            const DWORD e = ::GetLastError();
            if (e != ERROR_IO_PENDING) {
                eventsWork_ = false;
                return false;
            }
            HANDLE waits[] = {waitOv_.hEvent, wake_};
            if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
                finish(waitOv_);
                return false;
            }
            DWORD unused = 0;
            if (!::GetOverlappedResult(handle_, &waitOv_, &unused, FALSE)) {
                if (::GetLastError() != ERROR_OPERATION_ABORTED)
                    eventsWork_ = false;
                return false;
            }
        }
        if (mask & EV_CTS)
            events |= kEvCts;
        if (mask & EV_DSR)
            events |= kEvDsr;
        if (mask & EV_RLSD)
            events |= kEvCarrier;
        if (mask & EV_RING)
            events |= kEvRing;
        if (mask & EV_BREAK)
            events |= kEvBreak;
        if (mask & EV_ERR)
            lineErrors = takeLineErrors();
        if (events == 0 && lineErrors == 0)
            ::WaitForSingleObject(wake_, kEmptyEventPauseMs);
        return events != 0 || lineErrors != 0;
    }

    void wake() override
    {
        if (wake_)
            ::SetEvent(wake_);
    }

    void interruptEventWait() override
    {
        // The event thread waits on the wake event as well; this only makes
        // sure a wait that the driver will not end is cancelled.
        if (handle_ != INVALID_HANDLE_VALUE)
            ::CancelIoEx(handle_, &waitOv_);
    }

    uint32_t modemStatus() override
    {
        DWORD bits = 0;
        if (handle_ == INVALID_HANDLE_VALUE || !::GetCommModemStatus(handle_, &bits))
            return 0;
        uint32_t status = 0;
        if (bits & MS_CTS_ON)
            status |= kEvCts;
        if (bits & MS_DSR_ON)
            status |= kEvDsr;
        return status;
    }

    void close() override
    {
        if (handle_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
        }
        for (HANDLE* h : {&wake_, &interrupt_, &readOv_.hEvent, &writeOv_.hEvent, &waitOv_.hEvent}) {
            if (*h) {
                ::CloseHandle(*h);
                *h = nullptr;
            }
        }
    }

private:
    static uint32_t translateErrors(DWORD errors)
    {
        uint32_t flags = 0;
        if (errors & CE_OVERRUN)
            flags |= kErrOverrun;
        if (errors & CE_RXPARITY)
            flags |= kErrParity;
        if (errors & CE_FRAME)
            flags |= kErrFraming;
        if (errors & CE_BREAK)
            flags |= kErrBreak;
        if (errors & CE_RXOVER)
            flags |= kErrBufferOverrun;
        return flags;
    }

    // Reads at most `max` of the bytes the driver has queued, without
    // waiting for more. 0 when none are queued or line errors are pending
    // (kept for the next takeLineErrors), -1 when the device is gone.
    int readQueued(char* buffer, int max)
    {
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(handle_, &errors, &status))
            return 0; // the one-byte read tells whether the device is still there
        if (uint32_t flags = translateErrors(errors)) {
            pendingErrors_.fetch_or(flags);
            return 0;
        }
        if (status.cbInQue == 0)
            return 0;
        const DWORD want = std::min<DWORD>(status.cbInQue, DWORD(max));
        DWORD got = 0;
        if (::ReadFile(handle_, buffer, want, nullptr, &readOv_)) {
            ::GetOverlappedResult(handle_, &readOv_, &got, FALSE);
            return int(got);
        }
        const DWORD e = ::GetLastError();
        if (e != ERROR_IO_PENDING)
            return failedIo(e);
        // The bytes are queued, so this completes at once; the caller's
        // wake still ends it.
        HANDLE waits[] = {readOv_.hEvent, wake_};
        if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
            if (!::GetOverlappedResult(handle_, &readOv_, &got, FALSE) && !timedOut(::GetLastError()))
                return failedIo(::GetLastError());
            return int(got);
        }
        return int(finish(readOv_));
    }

    // A read or write that failed at once or on completion: 0 when it was
    // aborted (a purge, a line error with abort-on-error, a cancel) and the
    // device is still there, -1 when the device is gone.
    int failedIo(DWORD error)
    {
        if (error == ERROR_OPERATION_ABORTED) {
            DWORD errors = 0;
            COMSTAT status{};
            if (::ClearCommError(handle_, &errors, &status)) {
                pendingErrors_.fetch_or(translateErrors(errors));
                return 0;
            }
        }
        return -1;
    }

    // Cancels the operation of `ov` and waits until the driver has let go of
    // it; returns the bytes it moved before that.
    DWORD finish(OVERLAPPED& ov)
    {
        ::CancelIoEx(handle_, &ov);
        for (int attempt = 0; ::WaitForSingleObject(ov.hEvent, 100) != WAIT_OBJECT_0; ++attempt) {
            // A driver that ignores the cancel still ends its transfers on
            // a purge, and a wait on a new mask.
            ::CancelIoEx(handle_, &ov);
            if (attempt >= 2) {
                if (&ov == &waitOv_)
                    ::SetCommMask(handle_, 0);
                else
                    ::PurgeComm(handle_, &ov == &readOv_ ? PURGE_RXABORT : PURGE_TXABORT);
            }
        }
        DWORD moved = 0;
        ::GetOverlappedResult(handle_, &ov, &moved, FALSE);
        return moved;
    }

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    HANDLE wake_ = nullptr;      // manual reset: set for good when the port closes
    HANDLE interrupt_ = nullptr; // auto reset: ends one read
    OVERLAPPED readOv_{};
    OVERLAPPED writeOv_{};
    OVERLAPPED waitOv_{};
    std::mutex readMutex_;  // one read at a time on readOv_
    std::mutex writeMutex_; // one write at a time on writeOv_
    std::atomic<uint32_t> pendingErrors_{0}; // found by a read, taken by takeLineErrors
    bool eventsWork_ = true; // the event thread's own
    bool maskSet_ = false;
};

} // namespace

bool WinDriverLineSettings(SerialBackend& backend, LineSettings& settings, bool& parityCheck)
{
    auto* win = dynamic_cast<WinSerialBackend*>(&backend);
    return win && win->driverLineSettings(settings, parityCheck);
}

std::unique_ptr<SerialBackend> MakePlatformSerialBackend()
{
    return std::make_unique<WinSerialBackend>();
}

} // namespace pell
