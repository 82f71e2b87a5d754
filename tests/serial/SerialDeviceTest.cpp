// The serial port against the simulated controller, through the backend
// of the platform: one source for both. On Linux the simulator runs in the
// test on a pseudo-terminal; on Windows the port is a COM port with the
// simulator behind it, named by HALDEN_TEST_PORT, and
// HALDEN_TEST_VANISHING_PORT names one whose simulator closes its line
// during its first answer (scripts/test-windows maps Wine COM ports to the
// Linux simulator's pseudo-terminals). Both simulators stay silent until
// the tool's 'S' wakes them.
#include "serial/CSerial.h"

#ifdef _WIN32
#include "tests/serial/WinTestSystem.h"
#else
#include "sim/Simulator.h"
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>

using namespace pell;
using namespace std::chrono_literals;

namespace {

constexpr auto kPatience = 30s; // far beyond what a busy machine needs

// A port with a simulated controller behind it; `closeAfter` >= 0: the
// controller closes its line after that many bytes of its first answer.
class ControllerLine {
public:
    explicit ControllerLine(long closeAfter = -1)
    {
#ifdef _WIN32
        const char* name = std::getenv(closeAfter >= 0 ? "HALDEN_TEST_VANISHING_PORT" : "HALDEN_TEST_PORT");
        port_ = name ? name : "";
#else
        sim::Options options;
        options.autoPowerUp = true;
        options.faults.closeAfterReplyBytes = closeAfter;
        sim_ = std::make_unique<sim::Simulator>(options);
        if (sim_->Start())
            port_ = sim_->PortPath();
#endif
    }
    // Empty when there is none (on Windows: not named).
    const std::string& Port() const { return port_; }

private:
    std::string port_;
#ifndef _WIN32
    std::unique_ptr<sim::Simulator> sim_;
#endif
};

// Whether this system keeps a second opener off an open port (Wine, whose
// ports are POSIX terminals, lets it in).
bool secondOpenerRefused()
{
#ifdef _WIN32
    return !test::RunningUnderWine();
#else
    return true;
#endif
}

// Runs `body` on a thread of its own; true when it ended within the patience.
template <class Body>
bool endsInTime(Body body)
{
    auto done = std::async(std::launch::async, body);
    return done.wait_for(kPatience) == std::future_status::ready;
}

// Reads through the port until `text` has arrived or the patience is out.
std::string readUntil(CSerial& port, const std::string& text)
{
    std::string got;
    auto buffer = std::make_unique<char[]>(kReadBufferSize);
    const auto end = std::chrono::steady_clock::now() + kPatience;
    while (got.find(text) == std::string::npos && std::chrono::steady_clock::now() < end) {
        const int n = port.ReadAvailable(buffer.get());
        got.append(buffer.get(), static_cast<std::size_t>(n));
    }
    return got;
}

// Sends 'S' every 50 ms until the controller answers with its
// configuration mode banner.
bool enterConfigurationMode(CSerial& port)
{
    std::string got;
    auto buffer = std::make_unique<char[]>(kReadBufferSize);
    const auto end = std::chrono::steady_clock::now() + kPatience;
    while (got.find("CONFIGURE PROGRAM") == std::string::npos && std::chrono::steady_clock::now() < end) {
        EXPECT_EQ(port.Write("S", 1), 1);
        const auto pause = std::chrono::steady_clock::now() + 50ms;
        while (std::chrono::steady_clock::now() < pause) {
            const int n = port.ReadAvailable(buffer.get());
            got.append(buffer.get(), static_cast<std::size_t>(n));
        }
    }
    return got.find("CONFIGURE PROGRAM") != std::string::npos;
}

} // namespace

class SerialDevice : public ::testing::Test {
protected:
    void SetUp() override
    {
        port_ = line_.Port();
        if (port_.empty())
            GTEST_SKIP() << "no port with the simulated controller (HALDEN_TEST_PORT)";
    }
    // A backend opened and prepared as the port does it.
    std::unique_ptr<SerialBackend> openBackend()
    {
        auto backend = MakePlatformSerialBackend();
        std::string detail;
        EXPECT_EQ(backend->open(port_, detail), OpenError::None) << detail;
        EXPECT_TRUE(backend->prepare());
        backend->purge(true, true);
        EXPECT_TRUE(backend->setLineSettings({115200, 0, 8, 0}));
        return backend;
    }
    ControllerLine line_;
    std::string port_;
};

TEST_F(SerialDevice, QuietLineReadsNothingAndWaitsEnd)
{
    auto backend = openBackend();
    auto buffer = std::make_unique<char[]>(kReadBufferSize);
    // The simulator says nothing before the tool's 'S': a bounded read ends with 0.
    EXPECT_EQ(backend->read(buffer.get(), kReadChunkMax, CSerial::kReadWaitMs), 0);
    EXPECT_EQ(backend->takeLineErrors(), 0u);

    // An endless read ends with the interrupt, given before or while it waits.
    backend->interruptRead();
    EXPECT_TRUE(endsInTime([&] { EXPECT_EQ(backend->read(buffer.get(), kReadChunkMax, CSerial::kWaitForever), 0); }));
    auto reading = std::async(std::launch::async, [&] {
        return backend->read(buffer.get(), kReadChunkMax, CSerial::kWaitForever);
    });
    backend->interruptRead();
    ASSERT_EQ(reading.wait_for(kPatience), std::future_status::ready);
    EXPECT_EQ(reading.get(), 0);

    // The wake ends every wait for good: a read, the event wait, and all later ones.
    auto events = std::async(std::launch::async, [&] {
        uint32_t ev = 0, errors = 0;
        while (backend->waitEvents(ev, errors)) {
        }
        return true;
    });
    reading = std::async(std::launch::async, [&] {
        return backend->read(buffer.get(), kReadChunkMax, CSerial::kWaitForever);
    });
    backend->wake();
    backend->interruptEventWait();
    ASSERT_EQ(reading.wait_for(kPatience), std::future_status::ready);
    EXPECT_EQ(reading.get(), 0);
    ASSERT_EQ(events.wait_for(kPatience), std::future_status::ready);
    EXPECT_EQ(backend->read(buffer.get(), kReadChunkMax, CSerial::kWaitForever), 0);
    backend->close();
}

TEST_F(SerialDevice, ExclusiveOpenAndCloseWhileReading)
{
    CSerial port;
    ASSERT_TRUE(port.OpenPort(port_, 115200, NOPARITY, 8, ONESTOPBIT)) << port.LastOpenDetail();
    CSerial other;
    if (secondOpenerRefused()) {
        EXPECT_FALSE(other.OpenPort(port_, 115200, NOPARITY, 8, ONESTOPBIT));
        EXPECT_EQ(other.LastOpenError(), OpenError::Busy) << other.LastOpenDetail();
    }
    EXPECT_FALSE(port.OpenPort(port_, 9600, NOPARITY, 8, ONESTOPBIT)); // already open
    EXPECT_TRUE(port.IsOpen());

    // A receive thread asleep in an endless read wakes when the port closes.
    auto buffer = std::make_unique<char[]>(kReadBufferSize);
    auto reading = std::async(std::launch::async, [&] {
        return port.ReadAvailable(buffer.get(), CSerial::kWaitForever);
    });
    port.ClosePort(); // also ends and joins the comm-event thread
    ASSERT_EQ(reading.wait_for(kPatience), std::future_status::ready);
    EXPECT_EQ(reading.get(), 0);
    EXPECT_FALSE(port.IsOpen());
    // Free again for the next opener.
    ASSERT_TRUE(other.OpenPort(port_, 115200, NOPARITY, 8, ONESTOPBIT)) << other.LastOpenDetail();
    other.ClosePort();
}

TEST_F(SerialDevice, ConversationWithTheSimulatedController)
{
    CSerial port;
    ASSERT_TRUE(port.OpenPort(port_, 115200, NOPARITY, 8, ONESTOPBIT)) << port.LastOpenDetail();
    ASSERT_TRUE(enterConfigurationMode(port));
    EXPECT_EQ(port.Write("AT\r\n", 4), 4);
    EXPECT_NE(readUntil(port, "\r\nOK\r\n").find("\r\nOK\r\n"), std::string::npos);
    port.ClosePort();
}

TEST(SerialDeviceVanishing, ADeviceThatGoesAwayIsReportedLost)
{
    ControllerLine line(5);
    const std::string name = line.Port();
    if (name.empty())
        GTEST_SKIP() << "no port whose simulated controller closes its line (HALDEN_TEST_VANISHING_PORT)";
    CSerial port;
    ASSERT_TRUE(port.OpenPort(name, 115200, NOPARITY, 8, ONESTOPBIT)) << port.LastOpenDetail();
    ASSERT_TRUE(enterConfigurationMode(port));
    // The simulator closes its line within its answer.
    EXPECT_EQ(port.Write("AT\r\n", 4), 4);
    auto buffer = std::make_unique<char[]>(kReadBufferSize);
    const auto end = std::chrono::steady_clock::now() + kPatience;
    while (!port.IsLost() && std::chrono::steady_clock::now() < end)
        port.ReadAvailable(buffer.get());
    EXPECT_TRUE(port.IsLost());
    EXPECT_EQ(port.Write("AT\r\n", 4), 0);
    port.ClosePort();
    EXPECT_FALSE(port.IsOpen());
}
