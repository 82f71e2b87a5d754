#pragma once
// The device's end of the line: the master side of a raw pseudo-terminal,
// paced like a serial line when a baud rate is set, and the faults that
// shape what the device writes (silence, a pause before answers, line
// noise, pieces with gaps, a line that closes part-way through a reply).
// The device thread's waits are here too: a stop of the thread or a request
// from another thread cuts every one of them short.
#include "common/Clock.h"
#include "sim/DeviceParts.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <string>

namespace pell::sim {

class SimLine {
public:
    enum class Out {
        Text,        // a text of the device (banner, prompts, echo)
        Reply,       // an answer: the pause, the noise and the close-after fault apply
        BlockAnswer, // a boot loader's one-byte block answer: the pause and close-after only
    };

    // `aborted` says whether a stop or a request waits; `clock` (the system
    // clock when null) times the waits of Faults::lateFor.
    SimLine(DeviceShared& shared, std::function<bool()> aborted, const Clock* clock, int baud);

    // Makes a new pseudo-terminal (raw mode) and the pipe that wakes the
    // device thread; false when either cannot be made.
    bool Open();
    // Closes the line, as a pulled cable would.
    void Close();
    // Closes the wake pipe, once the device thread has ended.
    void CloseWake();
    bool LineOpen() const { return lineOpen_.load(); }
    // The line is there to write to and read from (device thread).
    bool Usable() const { return lineOpen_.load() && master_ >= 0; }
    std::string Path() const; // the slave path; empty before Open

    void SetBaud(int baud) { baud_ = baud > 0 ? baud : 0; }
    int Baud() const { return baud_.load(); }
    // Ends one gap of Faults::gapsUntilReleased.
    void ReleaseGap();
    // Wakes the device thread from its wait.
    void Wake();
    // Ends a wait of Faults::lateFor.
    void CutLateWait() { lateCut_.set(); }

    // Waits up to `waitMs` (-1: no limit) from `now` for input or a wake and
    // returns the bytes read, nothing when the wait ended otherwise. At a baud
    // rate input is taken no faster than the line brings it. `arrived` is
    // when the bytes were read.
    std::string Receive(TimePoint now, int waitMs, TimePoint& arrived);

    // Sends a text of the device with the faults that apply to it. False
    // when it did not go out whole.
    bool Emit(const std::string& bytes, Out kind);
    // Writes all of `data` unpaced; false when the line is gone, nobody
    // reads it, or the device was stopped or switched meanwhile.
    bool WriteAll(const char* data, std::size_t size, std::size_t& written);

    // Waits; false when a stop or a request cut the wait short.
    bool NapUntil(TimePoint until);
    bool Nap(int ms);
    // A wait of Faults::lateFor on the simulator's clock.
    bool LateNap(int ms);

private:
    bool aborted() const { return aborted_(); }
    void drainWake();
    bool napUntilReleased();
    bool writePaced(const std::string& data, std::size_t& written);
    bool waitTaken(int ms = 500);

    DeviceShared& shared_;
    const std::function<bool()> aborted_;
    const Clock* const clock_;
    std::atomic<int> baud_{0};
    std::atomic<int> gapReleases_{0}; // ReleaseGap() calls
    int gapsPassed_ = 0;              // released gaps the device went through
    Event lateCut_;                   // set by a stop or a request: ends a LateNap
    std::atomic<bool> lineOpen_{false};
    std::string path_; // under shared_.m

    // Owned by the device thread (or by the caller while no thread runs).
    int master_ = -1;
    int slave_ = -1; // kept open so a tool that closes its end does not hang the line up
    int wakeRead_ = -1;
    std::atomic<int> wakeWrite_{-1}; // written to by callers too
    TimePoint inputClock_{};
    TimePoint outputClock_{};
    std::array<char, 4096> buffer_{};
};

} // namespace pell::sim
