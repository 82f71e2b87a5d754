#pragma once
// The platform part of the serial port. CSerial holds the behaviour that is
// the same everywhere (open/close life cycle, 80,968-byte reads, the purge on
// line errors, the comm-event thread); a backend does the device calls.
#include <cstdint>
#include <memory>
#include <string>

namespace pell {

struct LineSettings {
    unsigned baud = 115200;
    int parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int dataBits = 8; // 5 to 8
    int stopBits = 0; // 0 one, 1 one and a half, 2 two
};

// NotASerialLine: the name leads to something that is not a serial line (a
// file, a pipe, a folder, a device that is no terminal, the terminal the
// program runs in); it was refused untouched.
enum class OpenError { None, InvalidName, NotFound, Busy, PermissionDenied, Other, NotASerialLine };

// Line error flags, as reported with a line-error notification.
enum LineErrorFlag : uint32_t {
    kErrOverrun = 0x01,
    kErrParity = 0x02,
    kErrFraming = 0x04,
    kErrBreak = 0x08,
    kErrBufferOverrun = 0x10,
};

// Modem-line and line events, as reported to the port's owner.
enum SerialEventFlag : uint32_t {
    kEvCts = 0x01,
    kEvDsr = 0x02,
    kEvRing = 0x04,
    kEvCarrier = 0x08,
    kEvBreak = 0x10,
    kEvError = 0x20,
};

class SerialBackend {
public:
    virtual ~SerialBackend() = default;

    // Opens the device exclusively, for as long as it is open (close() ends
    // that however the use ends). What is no serial line is refused before
    // any setting is changed on it. On failure `detail` names the cause.
    virtual OpenError open(const std::string& portText, std::string& detail) = 0;
    // Queues, time-outs, purge: the steps between opening and line settings.
    virtual bool prepare() = 0;
    virtual bool setLineSettings(const LineSettings& s) = 0;
    virtual void purge(bool rx, bool tx) = 0;
    // Line errors that happened since the last call (LineErrorFlag bits).
    virtual uint32_t takeLineErrors() = 0;
    // Waits at most waitMs (a negative value: no limit) for received bytes
    // and reads at most max of them; with max 0 it only waits for wake() or
    // interruptRead(). >0 bytes read, 0 nothing arrived (or woken), -1 the
    // device is gone.
    virtual int read(char* buffer, int max, int waitMs) = 0;
    // Makes the read under way, or else the next one, return 0 at once.
    virtual void interruptRead() = 0;
    // Writes all bytes within timeoutMs. Returns the count written, -1 gone.
    virtual int write(const char* bytes, int count, int timeoutMs) = 0;
    // Waits for modem-line or line events (SerialEventFlag bits). Returns
    // false when woken by wake() or when the driver cannot report events (in
    // which case it first waits for wake()).
    virtual bool waitEvents(uint32_t& events, uint32_t& lineErrors) = 0;
    // Makes every wait of this backend return at once, for good.
    virtual void wake() = 0;
    // Interrupts a waitEvents() blocked in the driver on the given thread.
    virtual void interruptEventWait() = 0;
    virtual uint32_t modemStatus() = 0; // kEvCts / kEvDsr bits currently on
    virtual void close() = 0;
};

// The backend of this platform.
std::unique_ptr<SerialBackend> MakePlatformSerialBackend();

// The device a port text names on POSIX: "ttyUSB0" means /dev/ttyUSB0, a path
// beginning with '/' is taken as is. Empty text, and text with a zero byte
// (which would name another file than it shows), give an empty result.
std::string PosixDevicePath(const std::string& portText);
// The device a port text names on Windows: "COMn" with n from 1 to 1024 gives
// "\\.\COMn"; anything else gives an empty result.
std::string WindowsDevicePath(const std::string& portText);

} // namespace pell
