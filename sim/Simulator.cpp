#include "sim/Simulator.h"

#include "common/Clock.h"
#include "common/WorkerThread.h"
#include "sim/BlockFrame.h"
#include "sim/ControllerModel.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <set>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace pell::sim {

const char* ModeName(Mode mode)
{
    switch (mode) {
    case Mode::Off: return "off";
    case Mode::LoaderWindow: return "boot loader listening";
    case Mode::BootUpdate: return "boot update";
    case Mode::LoaderReady: return "boot loader ready";
    case Mode::Transfer: return "transfer";
    case Mode::AppWindow: return "application start";
    case Mode::Running: return "running";
    case Mode::Configuration: return "configuration";
    }
    return "?";
}

namespace {

using Steady = std::chrono::steady_clock;
using TimePoint = Steady::time_point;
using std::chrono::milliseconds;
using std::chrono::microseconds;

constexpr const char* kBanner =
    "\r\n\r\nWC-3 well controller\r\n"
    "Software V2.31.07 2024-05-16, hardware V1.2\r\n"
    "Send 'S' for setup...\r\n";
constexpr const char* kConfigureText = "\r\n*** CONFIGURE PROGRAM ***\r\n";
constexpr const char* kRunningText = "\r\nSystem running\r\n";
constexpr const char* kBootUpdateText = "\r\nboot update, waiting for P\r\n";
constexpr const char* kLoaderErrorText = "err_handshake\r\n";

constexpr int kFrameIdleMs = 1000;   // a frame that stops half-way is dropped after this
constexpr int kDiscardIdleMs = 100;  // after a refused frame, the rest is dropped until the line rests
constexpr int kAutoRestartRun = 10;  // 'S' bytes in a row that restart a device in configuration mode
constexpr int kWriteStallMs = 3000;  // nobody reads the line: give the output up
constexpr int kPieceTakenMs = 5000;  // longest wait for the far end to take a piece before a gap
constexpr std::size_t kLineMax = 1024;
constexpr std::size_t kImageMax = 1048576;

enum class Request { PowerCycle, PowerOn, PowerOff, CloseLine };
enum class Out { Text, Reply, BlockAnswer };

microseconds byteTime(int baud, std::size_t count)
{
    return microseconds(static_cast<int64_t>(count) * 10'000'000 / baud);
}

} // namespace

struct Simulator::Impl {
    Options opt;
    std::atomic<bool> autoPower{false};
    std::atomic<int> baud{0};
    std::atomic<int> loaderWindowMs{0};
    std::atomic<int> configWindowMs{0};
    std::atomic<bool> discardingNow{false};
    std::atomic<int> gapReleases{0}; // ReleaseGap() calls
    int gapsPassed = 0;              // released gaps the device went through

    // Everything a caller may read or change while the device runs.
    mutable std::mutex m;
    Faults faults;
    ControllerModel model;
    std::vector<std::string> commands;
    std::vector<uint8_t> image;
    bool imageComplete = false;
    std::vector<BlockRecord> blocks;
    LoaderStats stats;
    std::string path;

    Observer observer; // set before Start

    WorkerThread thread; // the device; its stop flag ends every wait of the device
    std::atomic<bool> running{false};
    std::atomic<bool> lineOpen{false};
    std::atomic<Mode> mode{Mode::Off};
    std::atomic<int> powerUps{0};

    // Requests from other threads (power switch, line), carried out by the
    // device thread between two bytes.
    std::mutex reqM;
    std::condition_variable reqCv;
    std::deque<std::pair<uint64_t, Request>> queue;
    uint64_t posted = 0;
    uint64_t done = 0;
    std::atomic<bool> requestPending{false};
    Event lateCut; // set by a stop or a request: ends a wait of Faults::lateFor

    // Owned by the device thread (or by the caller while no thread runs).
    int master = -1;
    int slave = -1; // kept open so a tool that closes its end does not hang the line up
    int wakeRead = -1;
    int wakeWrite = -1;
    bool windowActive = false;
    TimePoint windowEnd{};
    bool restartPending = false;
    TimePoint restartAt{};
    TimePoint lastInput{};
    bool discarding = false;
    std::string lineBuf;
    bool lineTooLong = false;
    int sRun = 0;
    BlockFrameReader frame;
    int blockNumber = 0;
    TimePoint inputClock{};
    TimePoint outputClock{};

    // The raw traffic source: set by callers under `m`, run by the device thread.
    std::string pollFrame;
    int pollEveryMs = 0; // 0: not polling
    bool pollRestart = false;
    TimePoint nextPoll{};
    std::atomic<uint64_t> pollsSent{0};
    int floodBaud = 0;   // 0: no flood
    int floodMs = 0;
    bool floodRestart = false;
    TimePoint floodNext{};
    TimePoint floodEnd{};
    std::string floodPending; // the rest of the current line
    uint64_t floodLine = 0;
    std::atomic<uint64_t> floodBytes{0};
    std::atomic<bool> polling{false};
    std::atomic<bool> flooding{false};

    explicit Impl(const Options& o) : opt(o), faults(o.faults)
    {
        loaderWindowMs = o.loaderWindowMs;
        configWindowMs = o.configWindowMs;
        autoPower = o.autoPowerUp;
        baud = o.baud > 0 ? o.baud : 0;
        model.SetRecordsPerBatch(o.recordsPerBatch);
        model.SetEraseMs(o.eraseMs);
    }

    // ---- helpers ----

    void event(const std::string& text)
    {
        if (observer)
            observer(Traffic::Event, text);
    }

    Faults faultsNow() const
    {
        std::lock_guard<std::mutex> lock(m);
        return faults;
    }

    bool stopping() const { return thread.Stopping(); }
    bool aborted() const { return stopping() || requestPending.load(); }

    void drainWake()
    {
        char buf[64];
        while (wakeRead >= 0 && ::read(wakeRead, buf, sizeof buf) > 0) {
        }
    }

    void wake()
    {
        if (wakeWrite >= 0) {
            char c = 1;
            [[maybe_unused]] ssize_t n = ::write(wakeWrite, &c, 1);
        }
    }

    // Waits until `until`; false when a stop or a request cut the wait short.
    bool napUntil(TimePoint until)
    {
        for (;;) {
            if (aborted())
                return false;
            auto left = std::chrono::duration_cast<milliseconds>(until - Steady::now()).count();
            if (left <= 0)
                return true;
            struct pollfd p = {wakeRead, POLLIN, 0};
            ::poll(&p, wakeRead >= 0 ? 1 : 0, static_cast<int>(std::min<int64_t>(left, 100)));
            drainWake();
        }
    }

    bool nap(int ms) { return napUntil(Steady::now() + milliseconds(ms)); }

    // A wait of Faults::lateFor on the simulator's clock; false when a stop
    // or a request cut it short.
    bool lateNap(int ms)
    {
        // Reset before the look at the requests: a stop or a request that
        // comes later sets it again and ends the wait.
        lateCut.reset();
        if (aborted())
            return false;
        const Clock& clock = opt.clock != nullptr ? *opt.clock : systemClock();
        event("answer held back " + std::to_string(ms) + " ms");
        clock.waitFor(lateCut, ms);
        return !aborted();
    }

    // The report reply (report and OK) with the report faults applied.
    static std::string withReportFaults(const std::string& reply, const Faults& f)
    {
        if (f.dropReportLines <= 0 && f.damageReportLine < 0)
            return reply;
        // The report is "\r\n" and one line per parameter, then the OK reply.
        std::vector<std::string> lines;
        std::size_t at = 2;
        const std::size_t end = reply.size() - std::string_view(kOkReply).size();
        while (at < end) {
            std::size_t next = reply.find("\r\n", at);
            if (next == std::string::npos || next >= end)
                next = end;
            else
                next += 2;
            lines.push_back(reply.substr(at, next - at));
            at = next;
        }
        const int total = static_cast<int>(lines.size());
        if (f.damageReportLine >= 0 && f.damageReportLine < total && !lines[f.damageReportLine].empty())
            lines[f.damageReportLine][0] = static_cast<char>(lines[f.damageReportLine][0] ^ 0x20);
        std::vector<bool> dropped(lines.size(), false);
        const int drop = std::min(f.dropReportLines, total);
        for (int k = 0; k < drop; ++k)
            dropped[static_cast<std::size_t>(static_cast<long>(k) * total / drop)] = true;
        std::string out = reply.substr(0, 2);
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (!dropped[i])
                out += lines[i];
        return out + kOkReply;
    }

    // A gap of Faults::gapsUntilReleased; false when a stop or a request
    // cut it short.
    bool napUntilReleased()
    {
        for (;;) {
            if (aborted())
                return false;
            if (gapReleases.load() > gapsPassed) {
                ++gapsPassed;
                return true;
            }
            struct pollfd p = {wakeRead, POLLIN, 0};
            ::poll(&p, wakeRead >= 0 ? 1 : 0, 100);
            drainWake();
        }
    }

    // Writes all of `data`; false when the line is gone, nobody reads it,
    // or the device was stopped or switched meanwhile.
    bool writeAll(const char* data, std::size_t size, std::size_t& written)
    {
        written = 0;
        int stalledMs = 0;
        while (written < size) {
            if (aborted() || master < 0)
                return false;
            ssize_t n = ::write(master, data + written, size - written);
            if (n > 0) {
                written += static_cast<std::size_t>(n);
                stalledMs = 0;
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            if (stalledMs >= kWriteStallMs) {
                event("output dropped: nobody reads the line");
                return false;
            }
            struct pollfd p[2] = {{master, POLLOUT, 0}, {wakeRead, POLLIN, 0}};
            ::poll(p, 2, 50);
            drainWake();
            stalledMs += 50;
        }
        return true;
    }

    // Writes at the line's pace when a baud rate is set.
    bool writePaced(const std::string& data, std::size_t& written)
    {
        written = 0;
        const int b = baud.load();
        if (b <= 0)
            return writeAll(data.data(), data.size(), written);
        const std::size_t piece = std::max<std::size_t>(1, static_cast<std::size_t>(b) / 1000);
        while (written < data.size()) {
            if (!napUntil(outputClock))
                return false;
            std::size_t n = std::min(piece, data.size() - written), w = 0;
            bool ok = writeAll(data.data() + written, n, w);
            written += w;
            outputClock = std::max(outputClock, Steady::now()) + byteTime(b, w);
            if (!ok)
                return false;
        }
        return true;
    }

    // Sends a text of the device, with the faults that apply to it. False
    // when it did not go out whole.
    bool emit(const std::string& bytes, Out kind)
    {
        Faults f = faultsNow();
        if (!lineOpen.load() || master < 0)
            return false;
        if (f.silent) {
            event("silent: " + std::to_string(bytes.size()) + " bytes not sent");
            return false;
        }
        const bool reply = kind != Out::Text;
        if (reply && f.replyDelayMs > 0 && !nap(f.replyDelayMs))
            return false;
        std::string out = bytes;
        if (kind == Out::Reply && f.noise)
            out = f.noiseBytes + out;
        long closeAfter = -1;
        if (reply && f.closeAfterReplyBytes >= 0) {
            closeAfter = f.closeAfterReplyBytes;
            std::lock_guard<std::mutex> lock(m);
            faults.closeAfterReplyBytes = -1;
        }
        std::set<std::size_t> gaps;
        if (f.chunkSize > 0)
            for (std::size_t at = f.chunkSize; at < out.size(); at += f.chunkSize)
                gaps.insert(at);
        for (std::size_t at : f.splitAt)
            if (at > 0 && at < out.size())
                gaps.insert(at);
        std::set<std::size_t> cuts = gaps;
        if (closeAfter >= 0 && static_cast<std::size_t>(closeAfter) < out.size())
            cuts.insert(static_cast<std::size_t>(closeAfter));
        cuts.insert(out.size());

        std::string sent;
        std::size_t from = 0;
        bool whole = true;
        for (std::size_t to : cuts) {
            if (closeAfter >= 0 && from == static_cast<std::size_t>(closeAfter))
                break;
            // With piecesTaken the gap starts once the far end has taken the
            // piece before it, so the pieces reach it apart however late it reads.
            if (from > 0 && gaps.count(from) &&
                ((f.piecesTaken && !waitTaken(kPieceTakenMs)) ||
                 !(f.gapsUntilReleased ? napUntilReleased() : nap(f.chunkGapMs)))) {
                whole = false;
                break;
            }
            std::size_t w = 0;
            bool ok = writePaced(out.substr(from, to - from), w);
            sent.append(out, from, w);
            if (!ok) {
                whole = false;
                break;
            }
            from = to;
        }
        if (observer && !sent.empty())
            observer(Traffic::Sent, sent);
        if (closeAfter >= 0 && sent.size() >= static_cast<std::size_t>(std::min<long>(closeAfter, static_cast<long>(out.size())))) {
            event("line closed after " + std::to_string(sent.size()) + " bytes of the reply");
            waitTaken();
            closeLine();
            return false;
        }
        return whole;
    }

    // Lets the far end take what was written before the line goes: a
    // closing pseudo-terminal throws away what its reader has not read yet,
    // a pulled cable does not take back what already arrived.
    // False when a stop or a request cut the wait short; a far end that does
    // not read within `ms` is not waited for any longer.
    bool waitTaken(int ms = 500)
    {
        TimePoint end = Steady::now() + milliseconds(ms);
        if (!nap(20))
            return false;
        while (slave >= 0 && Steady::now() < end) {
            int queued = 0;
            if (::ioctl(slave, FIONREAD, &queued) != 0 || queued == 0)
                return true;
            if (!nap(5))
                return false;
        }
        return true;
    }

    // The loader's 'P' gets the line noise of the faults like any reply; the
    // one-byte block answers go out clean.
    void answerByte(uint8_t b)
    {
        emit(std::string(1, static_cast<char>(b)), b == 'P' ? Out::Reply : Out::BlockAnswer);
    }

    // ---- power and modes ----

    void setMode(Mode m2) { mode.store(m2); }

    void resetState()
    {
        windowActive = false;
        restartPending = false;
        lineBuf.clear();
        lineTooLong = false;
        sRun = 0;
        frame.Reset();
        discarding = false;
        discardingNow = false;
    }

    void powerOff()
    {
        resetState();
        setMode(Mode::Off);
        event("power off");
    }

    void powerUp()
    {
        resetState();
        setMode(Mode::LoaderWindow);
        windowActive = true;
        windowEnd = Steady::now() + milliseconds(loaderWindowMs.load());
        ++powerUps;
        event("power on: boot loader listens for 'B' or 'P'");
    }

    void restartWith(uint8_t b)
    {
        event(std::string("restart on '") + static_cast<char>(b) + "'");
        powerUp();
        feed(b);
    }

    void startApplication(bool configure)
    {
        windowActive = false;
        if (configure) {
            setMode(Mode::Configuration);
            event("application started, configuration mode");
            emit(kBanner, Out::Text);
            emit(kConfigureText, Out::Text);
            return;
        }
        setMode(Mode::AppWindow);
        windowActive = true;
        windowEnd = Steady::now() + milliseconds(configWindowMs.load());
        event("application started, watching for 'S'");
        emit(kBanner, Out::Text);
    }

    void enterConfiguration()
    {
        windowActive = false;
        setMode(Mode::Configuration);
        lineBuf.clear();
        event("configuration mode");
        emit(kConfigureText, Out::Text);
    }

    void closeLine()
    {
        // Said before it is done, so whoever sees the hang-up sees it said.
        const bool wasOpen = lineOpen.exchange(false);
        if (master >= 0)
            ::close(master);
        if (slave >= 0)
            ::close(slave);
        master = slave = -1;
        if (wasOpen)
            event("line closed");
    }

    void apply(Request r)
    {
        switch (r) {
        case Request::PowerCycle:
            powerUp();
            break;
        case Request::PowerOn:
            if (mode.load() == Mode::Off)
                powerUp();
            break;
        case Request::PowerOff:
            powerOff();
            break;
        case Request::CloseLine:
            closeLine();
            break;
        }
    }

    void processRequests()
    {
        std::deque<std::pair<uint64_t, Request>> work;
        {
            std::lock_guard<std::mutex> lock(reqM);
            work.swap(queue);
            requestPending = false;
        }
        for (auto& [seq, r] : work) {
            apply(r);
            std::lock_guard<std::mutex> lock(reqM);
            done = seq;
        }
        reqCv.notify_all();
    }

    void post(Request r)
    {
        std::unique_lock<std::mutex> lock(reqM);
        if (!running.load()) {
            lock.unlock();
            apply(r);
            return;
        }
        uint64_t seq = ++posted;
        queue.emplace_back(seq, r);
        requestPending = true;
        lateCut.set();
        wake();
        if (thread.OnThread())
            return; // from the observer: carried out after the current byte
        reqCv.wait_for(lock, std::chrono::seconds(10),
                       [&] { return done >= seq || !running.load(); });
    }

    // ---- the device ----

    bool autoTrigger(uint8_t b) const { return autoPower.load() && (b == 'S' || b == 'B' || b == 'P'); }

    void feed(uint8_t b)
    {
        switch (mode.load()) {
        case Mode::Off:
            if (autoTrigger(b)) {
                event("power on by the line");
                powerUp();
                feed(b);
            }
            return;
        case Mode::LoaderWindow:
        case Mode::BootUpdate:
        case Mode::LoaderReady:
            loaderByte(b);
            return;
        case Mode::Transfer:
            transferByte(b);
            return;
        case Mode::AppWindow:
            if (b == 'S')
                enterConfiguration();
            else if (autoTrigger(b))
                restartWith(b);
            return;
        case Mode::Running:
            if (autoTrigger(b))
                restartWith(b);
            return;
        case Mode::Configuration:
            configurationByte(b);
            return;
        }
    }

    void handshakeP()
    {
        bool error = false;
        {
            std::lock_guard<std::mutex> lock(m);
            ++stats.loaderRequests;
            if (faults.loaderErrors > 0) {
                --faults.loaderErrors;
                ++stats.errorReplies;
                error = true;
            } else {
                ++stats.loaderReplies;
            }
        }
        if (error) {
            // The loader stays in its handshake; a listening window starts over.
            if (mode.load() == Mode::LoaderWindow)
                windowEnd = Steady::now() + milliseconds(loaderWindowMs.load());
            event("handshake answered with an error");
            emit(kLoaderErrorText, Out::Reply);
            return;
        }
        windowActive = false;
        setMode(Mode::LoaderReady);
        event("boot loader ready, waiting for 0x06");
        answerByte('P');
    }

    void loaderByte(uint8_t b)
    {
        const Mode now = mode.load();
        if (b == 'B' && (now == Mode::LoaderWindow || now == Mode::BootUpdate)) {
            windowActive = false;
            setMode(Mode::BootUpdate);
            {
                std::lock_guard<std::mutex> lock(m);
                ++stats.bootRequests;
                ++stats.bootUpdateReplies;
            }
            event("boot update requested");
            emit(kBootUpdateText, Out::Reply);
            return;
        }
        if (b == 'P') {
            handshakeP();
            return;
        }
        if (b == kTransferStart && now == Mode::LoaderReady) {
            startTransfer();
            return;
        }
        if (b == 'S') {
            if (now == Mode::LoaderWindow)
                startApplication(true); // the tool is waiting for the configure program
            else if (autoPower.load())
                restartWith(b);
        }
    }

    void startTransfer()
    {
        {
            std::lock_guard<std::mutex> lock(m);
            ++stats.startRequests;
            ++stats.transfersStarted;
            image.clear();
            imageComplete = false;
            blocks.clear();
        }
        blockNumber = 0;
        frame.Reset();
        discarding = false;
        discardingNow = false;
        setMode(Mode::Transfer);
        event("transfer started");
    }

    void recordBlock(const BlockRecord& r)
    {
        std::lock_guard<std::mutex> lock(m);
        blocks.push_back(r);
    }

    void transferByte(uint8_t b)
    {
        if (discarding)
            return;
        if (!frame.InFrame()) {
            // Between frames the tool may start its handshake over.
            if (b == 'P') {
                handshakeP();
                return;
            }
            if (b == 'S' && autoPower.load()) {
                restartWith(b);
                return;
            }
        }
        BlockFrameReader::Verdict v = frame.Feed(b);
        if (v == BlockFrameReader::Verdict::None)
            return;
        BlockRecord r;
        r.declaredLength = frame.declaredLength();
        r.dataLength = frame.data().size();
        r.endByte = frame.endByte();
        r.problem = frame.problem();
        if (v == BlockFrameReader::Verdict::Refused) {
            // No frame can follow from here: drop the rest until the line rests.
            r.number = r.declaredLength > 0 || r.problem.rfind("length", 0) == 0 ? ++blockNumber : 0;
            r.answer = kBlockRejected;
            discarding = true;
            discardingNow = true;
            recordBlock(r);
            event("frame refused: " + r.problem);
            answerByte(kBlockRejected);
            return;
        }
        r.number = ++blockNumber;
        if (v == BlockFrameReader::Verdict::Bad) {
            r.answer = kBlockRejected;
            recordBlock(r);
            event("block " + std::to_string(r.number) + " rejected: " + r.problem);
            answerByte(kBlockRejected);
            return;
        }
        bool reject = false, drop = false, complete = false, tooLarge = false;
        {
            std::lock_guard<std::mutex> lock(m);
            if (faults.rejectBlock == r.number) {
                faults.rejectBlock = 0;
                reject = true;
            } else if (image.size() + frame.data().size() > kImageMax) {
                tooLarge = true;
            } else {
                if (faults.dropAckBlock == r.number) {
                    faults.dropAckBlock = 0;
                    drop = true;
                }
                image.insert(image.end(), frame.data().begin(), frame.data().end());
                if (frame.last()) {
                    imageComplete = true;
                    ++stats.transfersCompleted;
                    complete = true;
                }
            }
        }
        if (reject || tooLarge) {
            r.answer = kBlockRejected;
            r.problem = reject ? "rejected by fault" : "image too large";
            recordBlock(r);
            event("block " + std::to_string(r.number) + " " + r.problem);
            answerByte(kBlockRejected);
            return;
        }
        if (drop) {
            r.answer = 0;
            r.problem = "answer dropped by fault";
            recordBlock(r);
            event("block " + std::to_string(r.number) + " taken, answer dropped");
            return;
        }
        r.answer = kBlockAccepted;
        recordBlock(r);
        event("block " + std::to_string(r.number) + ": " + std::to_string(r.dataLength) +
              " bytes accepted" + (complete ? ", image complete" : ""));
        answerByte(kBlockAccepted);
        if (complete) {
            // The new firmware starts once the loader has said so.
            restartPending = true;
            restartAt = Steady::now() + milliseconds(opt.restartDelayMs);
        }
    }

    void configurationByte(uint8_t b)
    {
        if (b == '\n') {
            std::string l = lineBuf;
            bool tooLong = lineTooLong;
            lineBuf.clear();
            lineTooLong = false;
            sRun = 0;
            while (!l.empty() && l.back() == '\r')
                l.pop_back();
            handleLine(l, tooLong);
            return;
        }
        if (lineBuf.empty() && !lineTooLong) {
            // The tool's 'S' bytes that were on their way when the mode
            // started; a long run of them means it waits for a power-up.
            if (b == 'S') {
                if (autoPower.load() && ++sRun >= kAutoRestartRun)
                    restartWith(b);
                return;
            }
            if ((b == 'B' || b == 'P') && autoPower.load()) {
                restartWith(b);
                return;
            }
        }
        sRun = 0;
        if (lineBuf.size() >= kLineMax)
            lineTooLong = true;
        else
            lineBuf.push_back(static_cast<char>(b));
    }

    void handleLine(const std::string& l, bool tooLong)
    {
        std::size_t at = l.find("AT");
        if (at == std::string::npos) {
            if (!l.empty())
                event("line ignored: " + l);
            return;
        }
        std::string command = l.substr(at);
        Faults f = faultsNow();
        CommandReply reply;
        auto startsWithOne = [&](const std::vector<std::string>& prefixes) {
            return std::any_of(prefixes.begin(), prefixes.end(),
                               [&](const std::string& p) { return !p.empty() && command.rfind(p, 0) == 0; });
        };
        const bool forcedError = startsWithOne(f.errorFor);
        const bool both = startsWithOne(f.bothFor);
        {
            std::lock_guard<std::mutex> lock(m);
            commands.push_back(command);
            if (forcedError || tooLong)
                reply.text = kErrorReply;
            else
                reply = model.Execute(command);
        }
        event("command " + command + (forcedError ? " (error by fault)" : ""));
        if (f.echo)
            emit(l + "\r\n", Out::Text);
        if (reply.workMs > 0 && !nap(reply.workMs))
            return;
        for (const auto& [prefix, ms] : f.lateFor) {
            if (prefix.empty() || command.rfind(prefix, 0) != 0)
                continue;
            if (!lateNap(ms))
                return;
            break;
        }
        if (command == "AT+SHOW" && !forcedError && !tooLong)
            reply.text = withReportFaults(reply.text, f);
        if (both)
            reply.text = std::string(kErrorReply) + kOkReply;
        emit(f.preamble + reply.text, Out::Reply);
        if (reply.restartAfter) {
            restartPending = true;
            restartAt = Steady::now() + milliseconds(opt.restartDelayMs);
        }
    }

    // One slice of the raw traffic source when it is due.
    void rawTraffic(TimePoint now)
    {
        std::string frame;
        int every = 0, floodRate = 0;
        {
            std::lock_guard<std::mutex> lock(m);
            if (pollRestart) {
                pollRestart = false;
                nextPoll = now;
            }
            if (floodRestart) {
                floodRestart = false;
                floodNext = now;
                floodEnd = now + milliseconds(floodMs);
                floodPending.clear();
            }
            frame = pollFrame;
            every = pollEveryMs;
            floodRate = floodBaud;
        }
        const bool line = lineOpen.load() && master >= 0;
        if (every > 0 && now >= nextPoll) {
            nextPoll = std::max(nextPoll + milliseconds(every), now);
            std::size_t w = 0;
            if (line && writeAll(frame.data(), frame.size(), w)) {
                pollsSent.fetch_add(1);
                if (observer)
                    observer(Traffic::Sent, frame);
            }
        }
        if (floodRate > 0 && now >= floodNext) {
            if (now >= floodEnd || !line) {
                {
                    std::lock_guard<std::mutex> lock(m);
                    floodBaud = 0;
                    flooding = false;
                }
                event("flood ended: " + std::to_string(floodBytes.load()) + " bytes");
                return;
            }
            // Every 10 ms the bytes of 10 ms of line time.
            std::size_t want = std::max<std::size_t>(1, static_cast<std::size_t>(floodRate) / 1000);
            std::string out;
            while (out.size() < want) {
                if (floodPending.empty()) {
                    char head[32];
                    std::snprintf(head, sizeof head, "FLOOD %08llu ", static_cast<unsigned long long>(floodLine++));
                    floodPending = head;
                    for (char c = 'A'; floodPending.size() < 62; c = c == 'Z' ? 'A' : static_cast<char>(c + 1))
                        floodPending.push_back(c);
                    floodPending += "\r\n";
                }
                const std::size_t n = std::min(want - out.size(), floodPending.size());
                out.append(floodPending, 0, n);
                floodPending.erase(0, n);
            }
            std::size_t w = 0;
            writeAll(out.data(), out.size(), w);
            floodBytes.fetch_add(w);
            floodNext += milliseconds(10);
            if (floodNext < now - milliseconds(100))
                floodNext = now; // the thread was held up: no burst to catch up
        }
    }

    void onTimers(TimePoint now)
    {
        rawTraffic(now);
        if (restartPending && now >= restartAt) {
            restartPending = false;
            event("restart");
            powerUp();
        }
        if (windowActive && now >= windowEnd) {
            windowActive = false;
            if (mode.load() == Mode::LoaderWindow) {
                startApplication(false);
            } else if (mode.load() == Mode::AppWindow) {
                setMode(Mode::Running);
                event("running: the line is ignored");
                emit(kRunningText, Out::Text);
            }
        }
        if (mode.load() == Mode::Transfer && frame.InFrame() &&
            now - lastInput >= milliseconds(kFrameIdleMs)) {
            BlockRecord r;
            r.number = ++blockNumber;
            r.declaredLength = frame.declaredLength();
            r.dataLength = frame.data().size();
            r.problem = "frame cut off";
            recordBlock(r);
            event("block " + std::to_string(r.number) + " cut off, dropped without an answer");
            frame.Reset();
        }
        if (discarding && now - lastInput >= milliseconds(kDiscardIdleMs)) {
            discarding = false;
            discardingNow = false;
        }
    }

    // Until the next timer of the device; -1 (no limit) when none runs: input,
    // a request and the stop wake the device thread themselves.
    int timeoutMs(TimePoint now) const
    {
        TimePoint next = TimePoint::max();
        if (restartPending)
            next = std::min(next, restartAt);
        if (windowActive)
            next = std::min(next, windowEnd);
        if (mode.load() == Mode::Transfer && frame.InFrame())
            next = std::min(next, lastInput + milliseconds(kFrameIdleMs));
        if (discarding)
            next = std::min(next, lastInput + milliseconds(kDiscardIdleMs));
        if (polling.load())
            next = std::min(next, nextPoll);
        if (flooding.load())
            next = std::min(next, floodNext);
        if (next == TimePoint::max())
            return -1;
        auto ms = std::chrono::duration_cast<milliseconds>(next - now).count();
        return static_cast<int>(std::clamp<int64_t>(ms + 1, 0, 3600 * 1000));
    }

    void run()
    {
        std::vector<char> buf(4096);
        while (!stopping()) {
            processRequests();
            TimePoint now = Steady::now();
            onTimers(now);
            if (stopping())
                break;
            now = Steady::now();
            int wait = timeoutMs(now);
            bool canRead = lineOpen.load() && master >= 0;
            const int b = baud.load();
            if (canRead && b > 0 && inputClock > now) {
                auto ms = std::chrono::duration_cast<milliseconds>(inputClock - now).count() + 1;
                wait = wait < 0 ? static_cast<int>(ms) : std::min(wait, static_cast<int>(ms));
                canRead = false;
            }
            struct pollfd p[2] = {{wakeRead, POLLIN, 0}, {master, POLLIN, 0}};
            ::poll(p, canRead ? 2 : 1, wait);
            if (p[0].revents)
                drainWake();
            if (!canRead || !(p[1].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            // The rate may have changed while the thread waited.
            const int rate = baud.load();
            std::size_t want = rate > 0 ? std::max<std::size_t>(1, static_cast<std::size_t>(rate) / 1000)
                                        : buf.size();
            ssize_t n = ::read(master, buf.data(), std::min(want, buf.size()));
            if (n <= 0) {
                if (n < 0 && (errno == EAGAIN || errno == EINTR))
                    continue;
                // The far end is gone for now; do not spin on it.
                ::poll(p, 1, 20);
                drainWake();
                continue;
            }
            now = Steady::now();
            lastInput = now;
            if (rate > 0) {
                // A line that was busy stays busy: when the thread only woke a
                // little late (timer slack) the bytes were already waiting, so
                // the line time runs on from where it was rather than from now.
                const auto slack = milliseconds(2);
                const TimePoint from = now - inputClock <= slack ? inputClock : now;
                inputClock = from + byteTime(rate, static_cast<std::size_t>(n));
            }
            if (observer)
                observer(Traffic::Received, std::string(buf.data(), static_cast<std::size_t>(n)));
            for (ssize_t i = 0; i < n; ++i)
                feed(static_cast<uint8_t>(buf[static_cast<std::size_t>(i)]));
        }
    }
};

Simulator::Simulator() : Simulator(Options{}) {}

Simulator::Simulator(const Options& options) : d_(std::make_unique<Impl>(options)) {}

Simulator::~Simulator()
{
    Stop();
    d_->closeLine();
}

bool Simulator::Start()
{
    Impl& d = *d_;
    if (d.running.load())
        return true;
    char name[256] = {};
    struct termios raw {};
    ::cfmakeraw(&raw);
    int master = -1, slave = -1;
    if (::openpty(&master, &slave, name, &raw, nullptr) != 0)
        return false;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0) {
        ::close(master);
        ::close(slave);
        return false;
    }
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    d.closeLine(); // a line left over from an earlier run
    d.master = master;
    d.slave = slave;
    d.wakeRead = pipeFds[0];
    d.wakeWrite = pipeFds[1];
    {
        std::lock_guard<std::mutex> lock(d.m);
        d.path = name;
    }
    d.lineOpen = true;
    d.inputClock = d.outputClock = Steady::now();
    if (d.opt.startPowered && d.mode.load() == Mode::Off)
        d.powerUp();
    d.running = true;
    d.thread.Start([&d] { d.run(); }, "sim-device");
    return true;
}

void Simulator::Stop()
{
    Impl& d = *d_;
    if (!d.running.load())
        return;
    d.thread.Stop([&d] {
        d.lateCut.set();
        d.wake();
    });
    {
        std::lock_guard<std::mutex> lock(d.reqM);
        d.running = false;
        d.done = d.posted;
        d.queue.clear();
        d.requestPending = false;
    }
    d.reqCv.notify_all();
    d.closeLine();
    ::close(d.wakeRead);
    ::close(d.wakeWrite);
    d.wakeRead = d.wakeWrite = -1;
}

bool Simulator::IsRunning() const { return d_->running.load(); }

void Simulator::SetWindows(int loaderWindowMs, int configWindowMs)
{
    d_->loaderWindowMs = loaderWindowMs;
    d_->configWindowMs = configWindowMs;
}

bool Simulator::Discarding() const { return d_->discardingNow.load(); }

std::string Simulator::PortPath() const
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->path;
}

void Simulator::SetObserver(Observer observer) { d_->observer = std::move(observer); }

void Simulator::PowerCycle() { d_->post(Request::PowerCycle); }
void Simulator::PowerOn() { d_->post(Request::PowerOn); }
void Simulator::PowerOff() { d_->post(Request::PowerOff); }
Mode Simulator::CurrentMode() const { return d_->mode.load(); }
int Simulator::PowerUps() const { return d_->powerUps.load(); }
void Simulator::CloseLine() { d_->post(Request::CloseLine); }
bool Simulator::LineOpen() const { return d_->lineOpen.load(); }

void Simulator::SetFaults(const Faults& faults)
{
    std::lock_guard<std::mutex> lock(d_->m);
    d_->faults = faults;
}

Faults Simulator::GetFaults() const { return d_->faultsNow(); }

void Simulator::UpdateFaults(const std::function<void(Faults&)>& change)
{
    std::lock_guard<std::mutex> lock(d_->m);
    change(d_->faults);
}

void Simulator::SetAutoPowerUp(bool on) { d_->autoPower = on; }
bool Simulator::AutoPowerUp() const { return d_->autoPower.load(); }
void Simulator::SetBaud(int baud) { d_->baud = baud > 0 ? baud : 0; }

void Simulator::ReleaseGap()
{
    ++d_->gapReleases;
    d_->wake();
}
int Simulator::Baud() const { return d_->baud.load(); }

void Simulator::StartPolling(const std::string& frame, int everyMs)
{
    {
        std::lock_guard<std::mutex> lock(d_->m);
        d_->pollFrame = frame;
        d_->pollEveryMs = std::max(1, everyMs);
        d_->pollRestart = true;
        d_->polling = true;
    }
    d_->wake();
}

void Simulator::StopPolling()
{
    std::lock_guard<std::mutex> lock(d_->m);
    d_->pollEveryMs = 0;
    d_->polling = false;
}

bool Simulator::Polling() const { return d_->polling.load(); }
uint64_t Simulator::PollsSent() const { return d_->pollsSent.load(); }

void Simulator::StartFlood(int ms, int baud)
{
    {
        std::lock_guard<std::mutex> lock(d_->m);
        d_->floodBaud = std::max(10, baud);
        d_->floodMs = std::max(0, ms);
        d_->floodRestart = true;
        d_->floodBytes = 0;
        d_->flooding = true;
    }
    d_->wake();
}

void Simulator::StopFlood()
{
    std::lock_guard<std::mutex> lock(d_->m);
    d_->floodBaud = 0;
    d_->flooding = false;
}

bool Simulator::Flooding() const { return d_->flooding.load(); }
uint64_t Simulator::FloodBytes() const { return d_->floodBytes.load(); }

std::vector<uint8_t> Simulator::ReceivedImage() const
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->image;
}

bool Simulator::ImageComplete() const
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->imageComplete;
}

std::vector<BlockRecord> Simulator::Blocks() const
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->blocks;
}

LoaderStats Simulator::Loader() const
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->stats;
}

std::optional<std::string> Simulator::Param(int id) const
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->model.Param(id);
}

bool Simulator::SetParam(int id, const std::string& value)
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->model.SetParam(id, value);
}

std::optional<std::string> Simulator::FactoryValue(int id) { return ControllerModel::FactoryValue(id); }

void Simulator::RestoreFactory()
{
    std::lock_guard<std::mutex> lock(d_->m);
    d_->model.RestoreFactory();
}

std::string Simulator::CounterValue(int index) const
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->model.CounterValue(index);
}

void Simulator::SetCounterValue(int index, const std::string& value)
{
    std::lock_guard<std::mutex> lock(d_->m);
    d_->model.SetCounterValue(index, value);
}

std::string Simulator::SerialValue(int index) const
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->model.SerialValue(index);
}

void Simulator::SetSerialValue(int index, const std::string& value)
{
    std::lock_guard<std::mutex> lock(d_->m);
    d_->model.SetSerialValue(index, value);
}

std::string Simulator::ClockText() const
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->model.ClockText();
}

int Simulator::ClockSets() const
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->model.ClockSets();
}

void Simulator::SetRecords(const std::vector<CardRecord>& records)
{
    std::lock_guard<std::mutex> lock(d_->m);
    d_->model.SetRecords(records);
}

std::vector<CardRecord> Simulator::Records() const
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->model.Records();
}

std::vector<CardRecord> Simulator::SampleRecords(int year, int month, int day, int count)
{
    std::vector<CardRecord> out;
    const int64_t end = ToSeconds(DeviceTime{year, month, day, 0, 0, 0});
    for (int i = 0; i < count; ++i) {
        // Spread over the 90 days up to the given day, the newest first.
        int64_t daysBack = count > 1 ? static_cast<int64_t>(i) * 89 / (count - 1) : 0;
        DeviceTime t = FromSeconds(end - daysBack * 86400);
        CardRecord r;
        r.year = t.year;
        r.month = t.month;
        r.day = t.day;
        r.hour = 6 + (i * 7) % 14;
        r.minute = (i * 13) % 60;
        r.second = (i * 29) % 60;
        char buf[32];
        std::snprintf(buf, sizeof buf, "%08X", 0x3A7F1C00u + static_cast<unsigned>(i % 5) * 0x1357u);
        r.card = buf;
        double water = 5.0 + (i % 7) * 2.5;
        std::snprintf(buf, sizeof buf, "%.1f", water);
        r.water = buf;
        std::snprintf(buf, sizeof buf, "%.2f", water * 0.8);
        r.electricity = buf;
        r.duration = std::to_string(20 + (i * 7) % 90);
        r.price = "0.50";
        double remaining = 500.0 - i * 10.5;
        std::snprintf(buf, sizeof buf, "%.1f", remaining);
        r.remainingWater = buf;
        std::snprintf(buf, sizeof buf, "%.2f", remaining * 0.5);
        r.remainingMoney = buf;
        out.push_back(r);
    }
    return out;
}

std::string Simulator::ReportWithFaults() const
{
    const Faults f = GetFaults();
    std::string report;
    {
        std::lock_guard<std::mutex> lock(d_->m);
        report = d_->model.Report();
    }
    const std::string reply = Impl::withReportFaults(report + kOkReply, f);
    return reply.substr(0, reply.size() - std::string_view(kOkReply).size());
}

std::string Simulator::Report() const
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->model.Report();
}

std::vector<std::string> Simulator::ReceivedCommands() const
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->commands;
}

std::size_t Simulator::CommandCount() const
{
    std::lock_guard<std::mutex> lock(d_->m);
    return d_->commands.size();
}

void Simulator::ClearCommandLog()
{
    std::lock_guard<std::mutex> lock(d_->m);
    d_->commands.clear();
}

} // namespace pell::sim
