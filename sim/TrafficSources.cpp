#include "sim/TrafficSources.h"

#include <algorithm>
#include <cstdio>

namespace pell::sim {

using std::chrono::milliseconds;

TrafficSources::TrafficSources(DeviceShared& shared, SimLine& line) : shared_(shared), line_(line) {}

void TrafficSources::StartPolling(const std::string& frame, int everyMs)
{
    startWith([&] {
        pollFrame_ = frame;
        pollEveryMs_ = std::max(1, everyMs);
        pollRestart_ = true;
        polling_ = true;
    });
}

void TrafficSources::StopPolling()
{
    std::lock_guard<std::mutex> lock(shared_.m);
    pollEveryMs_ = 0;
    polling_ = false;
}

void TrafficSources::StartFlood(int ms, int baud)
{
    startWith([&] {
        floodBaud_ = std::max(10, baud);
        floodMs_ = std::max(0, ms);
        floodRestart_ = true;
        floodBytes_ = 0;
        flooding_ = true;
    });
}

void TrafficSources::StopFlood()
{
    std::lock_guard<std::mutex> lock(shared_.m);
    floodBaud_ = 0;
    flooding_ = false;
}

void TrafficSources::OnTimers(TimePoint now)
{
    std::string frame;
    int every = 0, floodRate = 0;
    {
        std::lock_guard<std::mutex> lock(shared_.m);
        if (pollRestart_) {
            pollRestart_ = false;
            nextPoll_ = now;
        }
        if (floodRestart_) {
            floodRestart_ = false;
            floodNext_ = now;
            floodEnd_ = now + milliseconds(floodMs_);
            floodPending_.clear();
        }
        frame = pollFrame_;
        every = pollEveryMs_;
        floodRate = floodBaud_;
    }
    const bool line = line_.Usable();
    if (every > 0 && now >= nextPoll_) {
        nextPoll_ = std::max(nextPoll_ + milliseconds(every), now);
        std::size_t w = 0;
        if (line && line_.WriteAll(frame.data(), frame.size(), w)) {
            pollsSent_.fetch_add(1);
            if (shared_.observer)
                shared_.observer(Traffic::Sent, frame);
        }
    }
    if (floodRate > 0 && now >= floodNext_)
        flood(now, floodRate, line);
}

void TrafficSources::flood(TimePoint now, int rate, bool line)
{
    if (now >= floodEnd_ || !line) {
        {
            std::lock_guard<std::mutex> lock(shared_.m);
            floodBaud_ = 0;
            flooding_ = false;
        }
        shared_.Tell("flood ended: " + std::to_string(floodBytes_.load()) + " bytes");
        return;
    }
    // Every 10 ms the bytes of 10 ms of line time.
    std::size_t want = std::max<std::size_t>(1, static_cast<std::size_t>(rate) / 1000);
    std::string out;
    while (out.size() < want) {
        if (floodPending_.empty()) {
            char head[32];
            std::snprintf(head, sizeof head, "FLOOD %08llu ", static_cast<unsigned long long>(floodLine_++));
            floodPending_ = head;
            for (char c = 'A'; floodPending_.size() < 62; c = c == 'Z' ? 'A' : static_cast<char>(c + 1))
                floodPending_.push_back(c);
            floodPending_ += "\r\n";
        }
        const std::size_t n = std::min(want - out.size(), floodPending_.size());
        out.append(floodPending_, 0, n);
        floodPending_.erase(0, n);
    }
    std::size_t w = 0;
    line_.WriteAll(out.data(), out.size(), w);
    floodBytes_.fetch_add(w);
    floodNext_ += milliseconds(10);
    if (floodNext_ < now - milliseconds(100))
        floodNext_ = now; // the thread was held up: no burst to catch up
}

TimePoint TrafficSources::NextTimer() const
{
    TimePoint next = TimePoint::max();
    if (polling_.load())
        next = std::min(next, nextPoll_);
    if (flooding_.load())
        next = std::min(next, floodNext_);
    return next;
}

} // namespace pell::sim
