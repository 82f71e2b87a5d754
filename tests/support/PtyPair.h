#pragma once
// Test helpers: a pseudo-terminal pair standing in for a serial line, and
// waiting on a condition with a deadline.
#include "tests/support/PtyLine.h"
#include "tests/support/Wait.h"

#include <chrono>
#include <functional>
#include <string>

namespace pell::test {

// A raw-mode pseudo-terminal. The port under test opens slavePath(); the
// test plays the far end on the master descriptor.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    int master() const { return master_.fd(); }
    // The test's own handle on the slave side (for reading the line settings).
    int slave() const { return slave_; }

    // Writes all bytes to the master side.
    void send(const std::string& bytes) { master_.send(bytes); }
    // Reads what the master side holds, waiting at most `wait` for the first byte.
    std::string receive(std::chrono::milliseconds wait = std::chrono::milliseconds(0))
    {
        return master_.receive(wait);
    }
    // Reads until `count` bytes arrived or the deadline passed.
    std::string receiveExactly(std::size_t count, std::chrono::milliseconds deadline)
    {
        return master_.readExactly(count, deadline);
    }
    // Closes the far end, as a vanished device would.
    void closeMaster() { master_.close(); }
    // Closes the test's own handle on the slave side so that a closed master
    // is seen as a hang-up by the port under test.
    void closeSlaveHandle();

private:
    PtyLine master_;
    int slave_ = -1;
    std::string slavePath_;
};

} // namespace pell::test
