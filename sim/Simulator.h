#pragma once
// A simulated well controller with its boot loader, on a pseudo-terminal.
//
// The simulator owns the master side of a raw pseudo-terminal; the tool (or
// a test) opens the slave side, PortPath(), as it would open a serial port.
// One thread plays the device: it reads what arrives, keeps the device's
// state and writes the answers, optionally paced like a real line.
//
// The device model, as the tool meets it:
//   power-up  -> the boot loader listens for a short window (loaderWindowMs)
//                for 'B' (boot-program update: answers a text with
//                "boot update", then waits for 'P') or 'P' (answers 'P');
//                after its 'P' it waits for 0x06, then takes block frames.
//                An 'S' in this window starts the application at once.
//   application start -> prints its banner and watches configWindowMs for
//                'S'; on 'S' it prints a text with "CONFIGURE PROGRAM" and
//                takes AT commands (configuration mode). Without 'S' it runs
//                normally and ignores everything the line brings.
//   AT+RESET, and the end of a firmware transfer, restart the device.
// With autoPowerUp the device switches itself on (or restarts) when the
// tool's handshake bytes arrive while it would otherwise ignore them, so a
// test or a user never has to play the power switch.
//
// Every accessor and setter is thread-safe and may be called while the
// device thread runs.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pell {
class Clock;
}

namespace pell::sim {

// Misbehaviour switched on at run time. A copy is taken for each reply, so
// a change applies from the next reply on; the "once" faults clear
// themselves when they have fired.
struct Faults {
    bool silent = false;                 // the device writes nothing at all
    std::vector<std::string> errorFor;   // command lines starting with one of these get ERROR
    int replyDelayMs = 0;                // pause before every answer (AT replies, loader answers)
    std::size_t chunkSize = 0;           // >0: every text goes out in pieces of this many bytes
    std::vector<std::size_t> splitAt;    // byte offsets at which every text is cut into pieces
    int chunkGapMs = 30;                 // pause between pieces, so they arrive separately
    bool gapsUntilReleased = false;      // each gap lasts until ReleaseGap() instead of chunkGapMs
    bool piecesTaken = false;            // each gap starts once the far end took the piece before (up to 5 s)
    bool noise = false;                  // zero bytes and line noise before every reply (AT replies, loader texts, its 'P'; block answers stay clean)
    std::string noiseBytes = std::string("\0\0\xff\x7f#~\0", 7);
    int rejectBlock = 0;                 // block k (1-based, per transfer) answered 0x15 once
    int dropAckBlock = 0;                // block k gets no answer once
    int loaderErrors = 0;                // this many 'P' handshakes answered "err_..." instead of 'P'
    long closeAfterReplyBytes = -1;      // >=0: close the line after this many bytes of the next reply
    // Controllers that keep the contract but not our habits.
    bool echo = false;                   // every command line is written back (with CR LF) before its answer
    std::string preamble;                // text written before every AT reply (after the echo)
    std::vector<std::string> bothFor;    // command lines starting with one of these get ERROR and OK in one piece
    // Command lines starting with the text are answered this many ms late,
    // timed on the simulator's clock (Options::clock), the first match counting.
    std::vector<std::pair<std::string, int>> lateFor;
    int dropReportLines = 0;             // the AT+SHOW report leaves out this many of its lines, spread over it
    int damageReportLine = -1;           // >=0: one bit of the label of this report line (0-based) is flipped
};

struct Options {
    bool autoPowerUp = false;    // power up / restart when 'S', 'B' or 'P' arrive on a device that ignores them
    bool startPowered = false;   // power up as soon as Start() succeeds
    int baud = 0;                // >0: output and input take as long as on a line at this rate (10 bits per byte)
    int loaderWindowMs = 1000;   // how long the boot loader listens after power-up
    int configWindowMs = 1000;   // how long the application watches for 'S' after its banner
    int recordsPerBatch = 10;    // card records per reply of AT+RDNFCRCRD=
    int eraseMs = 300;           // time AT+INITDATAFLASH takes before its reply
    int restartDelayMs = 200;    // pause between a transfer's last answer (or AT+RESET's OK) and the restart
    // Times the answers of Faults::lateFor (the system clock when null), so
    // a test can make a controller late on the clock it steps the tool with.
    const Clock* clock = nullptr;
    Faults faults;
};

enum class Mode {
    Off,            // no power: input is dropped, nothing is written
    LoaderWindow,   // boot loader listening for 'B' or 'P' after power-up
    BootUpdate,     // "boot update" sent, waiting for 'P'
    LoaderReady,    // 'P' answered, waiting for 0x06
    Transfer,       // taking block frames
    AppWindow,      // banner printed, watching for 'S'
    Running,        // normal operation: the line is ignored
    Configuration,  // taking AT commands
};
const char* ModeName(Mode mode);

// One block frame as the boot loader saw it.
struct BlockRecord {
    int number = 0;                 // 1-based within its transfer
    std::size_t declaredLength = 0; // from the two length bytes
    std::size_t dataLength = 0;     // data bytes taken
    uint8_t endByte = 0;            // 0x17, 0x03, or whatever stood there
    uint8_t answer = 0;             // 0x05 accepted, 0x15 rejected, 0 no answer sent
    std::string problem;            // why it was rejected or not answered; empty when accepted
};

struct LoaderStats {
    int bootRequests = 0;      // 'B' taken by the boot loader
    int loaderRequests = 0;    // 'P' taken by the boot loader
    int startRequests = 0;     // 0x06 taken
    int bootUpdateReplies = 0; // "boot update" texts sent
    int loaderReplies = 0;     // 'P' answers sent
    int errorReplies = 0;      // "err_" texts sent
    int transfersStarted = 0;
    int transfersCompleted = 0;
};

// One stored card transaction.
struct CardRecord {
    std::string card, water, electricity, duration, price, remainingWater, remainingMoney;
    int year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0; // start of the transaction
};

enum class Traffic { Received, Sent, Event };
// Called on the device thread: bytes received or sent, or a readable event.
using Observer = std::function<void(Traffic kind, const std::string& bytes)>;

class Simulator {
public:
    Simulator();
    explicit Simulator(const Options& options);
    ~Simulator(); // stops
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Creates the pseudo-terminal (raw mode) and starts the device thread.
    // False when the pseudo-terminal cannot be made. Start after Stop gives
    // a new line (new path); the device's stores are kept.
    bool Start();
    void Stop(); // ends and joins the device thread, closes the line; not from the observer
    bool IsRunning() const;
    // The slave path that the tool opens; empty before Start.
    std::string PortPath() const;
    // Set before Start; called on the device thread.
    void SetObserver(Observer observer);

    // Power switch. PowerCycle switches off and on again (on when off).
    void PowerCycle();
    void PowerOn();
    void PowerOff();
    Mode CurrentMode() const;
    int PowerUps() const;
    // Closes the device's end of the line at once, as a pulled cable would;
    // the thread keeps running without a line until Stop.
    void CloseLine();
    bool LineOpen() const;

    // Faults and pacing, at run time.
    void SetFaults(const Faults& faults);
    Faults GetFaults() const;
    void UpdateFaults(const std::function<void(Faults&)>& change);
    void SetAutoPowerUp(bool on);
    bool AutoPowerUp() const;
    void SetBaud(int baud); // 0 = unpaced
    // Ends one gap of Faults::gapsUntilReleased (the next one when none
    // waits yet).
    void ReleaseGap();
    int Baud() const;
    // The listening windows of Options, from the next power-up (or
    // application start) on.
    void SetWindows(int loaderWindowMs, int configWindowMs);

    // True while the boot loader drops what arrives after a refused frame
    // (until the line rests for 100 ms).
    bool Discarding() const;

    // ---- boot loader ----
    // Bytes accepted in the current (or last) transfer; complete once the
    // block with end byte 0x03 was accepted.
    std::vector<uint8_t> ReceivedImage() const;
    bool ImageComplete() const;
    std::vector<BlockRecord> Blocks() const; // of the current (or last) transfer
    LoaderStats Loader() const;

    // ---- configuration mode ----
    // The value store of the configurable parameters, ids 0..144.
    std::optional<std::string> Param(int id) const; // none for ids outside 0..144 (and 145)
    bool SetParam(int id, const std::string& value);
    static std::optional<std::string> FactoryValue(int id);
    void RestoreFactory();
    // Counter (0..3) and serial-meter (0..3) initial values.
    std::string CounterValue(int index) const;
    void SetCounterValue(int index, const std::string& value);
    std::string SerialValue(int index) const;
    void SetSerialValue(int index, const std::string& value);
    // The clock text last accepted by AT+EXCCLK= (empty before), and how often.
    std::string ClockText() const;
    int ClockSets() const;
    // Card records; the factory store holds SampleRecords for the last 90 days.
    void SetRecords(const std::vector<CardRecord>& records);
    std::vector<CardRecord> Records() const;
    static std::vector<CardRecord> SampleRecords(int year, int month, int day, int count);
    // The AT+SHOW report as the device would print it now (without OK and
    // without the report faults).
    std::string Report() const;
    // The report as the faults of now would send it.
    std::string ReportWithFaults() const;

    // ---- raw traffic source (whatever mode the device is in) ----
    // Sends `frame` now and then every `everyMs` (at least 1) until
    // StopPolling, as a master polling a meter would; what comes back is
    // reported to the observer as received traffic.
    void StartPolling(const std::string& frame, int everyMs);
    void StopPolling();
    bool Polling() const;
    uint64_t PollsSent() const;
    // Sends a numbered text at the full rate of `baud` (10 bits per byte)
    // for `ms` milliseconds. Every line is "FLOOD nnnnnnnn " plus letters and
    // CR LF, 64 bytes, so a lost byte shows.
    void StartFlood(int ms, int baud);
    void StopFlood();
    bool Flooding() const;
    uint64_t FloodBytes() const;

    // Every command line taken in configuration mode (without CR LF), in order.
    std::vector<std::string> ReceivedCommands() const;
    std::size_t CommandCount() const;
    void ClearCommandLog();

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace pell::sim
