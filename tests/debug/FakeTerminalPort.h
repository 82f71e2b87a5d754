#pragma once
// A port for the terminal's tests: open or closed at will, records what is
// written, can write short and can hold writes until the test lets them go.
#include "common/Clock.h"
#include "debug/DebugTerminal.h"

#include <atomic>
#include <mutex>
#include <string>

namespace pell::test {

class FakeTerminalPort : public ITerminalPort {
public:
    FakeTerminalPort() { release.set(); }
    bool IsOpen() const override { return open.load(); }
    int Write(const char* bytes, int count) override
    {
        writesBegun.fetch_add(1);
        release.wait();
        const int n = std::min(count, shortWrite.load() >= 0 ? shortWrite.load() : count);
        std::lock_guard<std::mutex> lock(m);
        written.append(bytes, static_cast<std::size_t>(n));
        return n;
    }
    std::string Written() const
    {
        std::lock_guard<std::mutex> lock(m);
        return written;
    }

    std::atomic<bool> open{true};
    std::atomic<int> shortWrite{-1}; // >= 0: a write takes at most this many bytes
    std::atomic<int> writesBegun{0};
    Event release;                   // reset: writes wait until it is set

private:
    mutable std::mutex m;
    std::string written;
};

} // namespace pell::test
