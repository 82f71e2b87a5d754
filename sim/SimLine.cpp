#include "sim/SimLine.h"

#include <algorithm>
#include <cerrno>
#include <set>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace pell::sim {

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr int kWriteStallMs = 3000; // nobody reads the line: give the output up
constexpr int kPieceTakenMs = 5000; // longest wait for the far end to take a piece before a gap

microseconds byteTime(int baud, std::size_t count)
{
    return microseconds(static_cast<int64_t>(count) * 10'000'000 / baud);
}

} // namespace

SimLine::SimLine(DeviceShared& shared, std::function<bool()> aborted, const Clock* clock, int baud)
    : shared_(shared), aborted_(std::move(aborted)), clock_(clock)
{
    SetBaud(baud);
}

bool SimLine::Open()
{
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
    Close(); // a line left over from an earlier run
    master_ = master;
    slave_ = slave;
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    {
        std::lock_guard<std::mutex> lock(shared_.m);
        path_ = name;
    }
    lineOpen_ = true;
    inputClock_ = outputClock_ = Steady::now();
    return true;
}

void SimLine::Close()
{
    // Said before it is done, so whoever sees the hang-up sees it said.
    const bool wasOpen = lineOpen_.exchange(false);
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
    master_ = slave_ = -1;
    if (wasOpen)
        shared_.Tell("line closed");
}

void SimLine::CloseWake()
{
    ::close(wakeRead_);
    ::close(wakeWrite_.exchange(-1));
    wakeRead_ = -1;
}

std::string SimLine::Path() const
{
    std::lock_guard<std::mutex> lock(shared_.m);
    return path_;
}

void SimLine::ReleaseGap()
{
    ++gapReleases_;
    Wake();
}

void SimLine::Wake()
{
    const int fd = wakeWrite_.load();
    if (fd >= 0) {
        char c = 1;
        [[maybe_unused]] ssize_t n = ::write(fd, &c, 1);
    }
}

void SimLine::drainWake()
{
    char buf[64];
    while (wakeRead_ >= 0 && ::read(wakeRead_, buf, sizeof buf) > 0) {
    }
}

std::string SimLine::Receive(TimePoint now, int waitMs, TimePoint& arrived)
{
    bool canRead = Usable();
    const int b = baud_.load();
    if (canRead && b > 0 && inputClock_ > now) {
        auto ms = std::chrono::duration_cast<milliseconds>(inputClock_ - now).count() + 1;
        waitMs = waitMs < 0 ? static_cast<int>(ms) : std::min(waitMs, static_cast<int>(ms));
        canRead = false;
    }
    struct pollfd p[2] = {{wakeRead_, POLLIN, 0}, {master_, POLLIN, 0}};
    ::poll(p, canRead ? 2 : 1, waitMs);
    if (p[0].revents)
        drainWake();
    if (!canRead || !(p[1].revents & (POLLIN | POLLHUP | POLLERR)))
        return {};
    // The rate may have changed while the thread waited.
    const int rate = baud_.load();
    std::size_t want = rate > 0 ? std::max<std::size_t>(1, static_cast<std::size_t>(rate) / 1000)
                                : buffer_.size();
    ssize_t n = ::read(master_, buffer_.data(), std::min(want, buffer_.size()));
    if (n <= 0) {
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return {};
        // The far end is gone for now; do not spin on it.
        ::poll(p, 1, 20);
        drainWake();
        return {};
    }
    arrived = Steady::now();
    if (rate > 0) {
        // A line that was busy stays busy: when the thread only woke a
        // little late (timer slack) the bytes were already waiting, so
        // the line time runs on from where it was rather than from now.
        const auto slack = milliseconds(2);
        const TimePoint from = arrived - inputClock_ <= slack ? inputClock_ : arrived;
        inputClock_ = from + byteTime(rate, static_cast<std::size_t>(n));
    }
    return std::string(buffer_.data(), static_cast<std::size_t>(n));
}

bool SimLine::NapUntil(TimePoint until)
{
    for (;;) {
        if (aborted())
            return false;
        auto left = std::chrono::duration_cast<milliseconds>(until - Steady::now()).count();
        if (left <= 0)
            return true;
        struct pollfd p = {wakeRead_, POLLIN, 0};
        ::poll(&p, wakeRead_ >= 0 ? 1 : 0, static_cast<int>(std::min<int64_t>(left, 100)));
        drainWake();
    }
}

bool SimLine::Nap(int ms) { return NapUntil(Steady::now() + milliseconds(ms)); }

bool SimLine::LateNap(int ms)
{
    // Reset before the look at the requests: a stop or a request that
    // comes later sets it again and ends the wait.
    lateCut_.reset();
    if (aborted())
        return false;
    const Clock& clock = clock_ != nullptr ? *clock_ : systemClock();
    shared_.Tell("answer held back " + std::to_string(ms) + " ms");
    clock.waitFor(lateCut_, ms);
    return !aborted();
}

// A gap of Faults::gapsUntilReleased; false when a stop or a request
// cut it short.
bool SimLine::napUntilReleased()
{
    for (;;) {
        if (aborted())
            return false;
        if (gapReleases_.load() > gapsPassed_) {
            ++gapsPassed_;
            return true;
        }
        struct pollfd p = {wakeRead_, POLLIN, 0};
        ::poll(&p, wakeRead_ >= 0 ? 1 : 0, 100);
        drainWake();
    }
}

bool SimLine::WriteAll(const char* data, std::size_t size, std::size_t& written)
{
    written = 0;
    int stalledMs = 0;
    while (written < size) {
        if (aborted() || master_ < 0)
            return false;
        ssize_t n = ::write(master_, data + written, size - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            stalledMs = 0;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (stalledMs >= kWriteStallMs) {
            shared_.Tell("output dropped: nobody reads the line");
            return false;
        }
        struct pollfd p[2] = {{master_, POLLOUT, 0}, {wakeRead_, POLLIN, 0}};
        ::poll(p, 2, 50);
        drainWake();
        stalledMs += 50;
    }
    return true;
}

// Writes at the line's pace when a baud rate is set.
bool SimLine::writePaced(const std::string& data, std::size_t& written)
{
    written = 0;
    const int b = baud_.load();
    if (b <= 0)
        return WriteAll(data.data(), data.size(), written);
    const std::size_t piece = std::max<std::size_t>(1, static_cast<std::size_t>(b) / 1000);
    while (written < data.size()) {
        if (!NapUntil(outputClock_))
            return false;
        std::size_t n = std::min(piece, data.size() - written), w = 0;
        bool ok = WriteAll(data.data() + written, n, w);
        written += w;
        outputClock_ = std::max(outputClock_, Steady::now()) + byteTime(b, w);
        if (!ok)
            return false;
    }
    return true;
}

bool SimLine::Emit(const std::string& bytes, Out kind)
{
    Faults f = shared_.FaultsNow();
    if (!Usable())
        return false;
    if (f.silent) {
        shared_.Tell("silent: " + std::to_string(bytes.size()) + " bytes not sent");
        return false;
    }
    const bool reply = kind != Out::Text;
    if (reply && f.replyDelayMs > 0 && !Nap(f.replyDelayMs))
        return false;
    std::string out = bytes;
    if (kind == Out::Reply && f.noise)
        out = f.noiseBytes + out;
    long closeAfter = -1;
    if (reply && f.closeAfterReplyBytes >= 0) {
        closeAfter = f.closeAfterReplyBytes;
        std::lock_guard<std::mutex> lock(shared_.m);
        shared_.faults.closeAfterReplyBytes = -1;
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
             !(f.gapsUntilReleased ? napUntilReleased() : Nap(f.chunkGapMs)))) {
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
    if (shared_.observer && !sent.empty())
        shared_.observer(Traffic::Sent, sent);
    if (closeAfter >= 0 && sent.size() >= static_cast<std::size_t>(std::min<long>(closeAfter, static_cast<long>(out.size())))) {
        shared_.Tell("line closed after " + std::to_string(sent.size()) + " bytes of the reply");
        waitTaken();
        Close();
        return false;
    }
    return whole;
}

// Lets the far end take what was written before the line goes: a
// closing pseudo-terminal throws away what its reader has not read yet,
// a pulled cable does not take back what already arrived.
// False when a stop or a request cut the wait short; a far end that does
// not read within `ms` is not waited for any longer.
bool SimLine::waitTaken(int ms)
{
    TimePoint end = Steady::now() + milliseconds(ms);
    if (!Nap(20))
        return false;
    while (slave_ >= 0 && Steady::now() < end) {
        int queued = 0;
        if (::ioctl(slave_, FIONREAD, &queued) != 0 || queued == 0)
            return true;
        if (!Nap(5))
            return false;
    }
    return true;
}

} // namespace pell::sim
