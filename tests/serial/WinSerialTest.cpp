// The Win32 serial backend and the port list from the registry. The device
// tests need a COM port with the simulated controller behind it (started
// with --auto-power, so it stays silent until the tool's 'S'): its name in
// HALDEN_TEST_PORT (scripts/test-windows maps a Wine COM port to the
// simulator's pseudo-terminal). HALDEN_TEST_VANISHING_PORT names one whose
// simulator closes its line during its first reply (--close-after).
#include "serial/CSerial.h"
#include "serial/PortList.h"
#include "serial/WinSerialBackend.h"
#include "tests/serial/WinTestSystem.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <thread>

using namespace pell;
using namespace std::chrono_literals;

namespace {

constexpr auto kPatience = 30s; // far beyond what a busy machine needs

std::string envPort(const char* name)
{
    const char* port = std::getenv(name);
    return port ? port : "";
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

TEST(WinPortList, RegistryValuesInKeyOrderWhateverTheirLength)
{
    const std::string kKey = "Software\\HaldenTest\\SERIALCOMM";
    test::DeleteUserRegistryTree("Software\\HaldenTest");
    ASSERT_TRUE(test::SetUserRegistryString(kKey, "\\Device\\Serial0", "COM3"));
    ASSERT_TRUE(test::SetUserRegistryString(kKey, "\\Device\\VCP0", "COM12"));
    ASSERT_TRUE(test::SetUserRegistryString(kKey, "\\Device\\Silent", "")); // lists nothing
    ASSERT_TRUE(test::SetUserRegistryNumber(kKey, "\\Device\\Number", 5));  // no string
    ASSERT_TRUE(test::SetUserRegistryString(kKey, "\\Device\\VCP1", "COM100")); // listed too
    EXPECT_EQ(ListRegistryPorts(kKey, true), (std::vector<std::string>{"COM3", "COM12", "COM100"}));
    EXPECT_TRUE(ListRegistryPorts("Software\\HaldenTest\\Nothing", true).empty());
    test::DeleteUserRegistryTree("Software\\HaldenTest");

    // A port the system does not describe keeps its name.
    EXPECT_EQ(SerialPortDescription("COM1019"), "COM1019");
}

TEST(WinSerialBackend, MissingAndUnnamedPortsFailWithTheirCause)
{
    struct Case {
        const char* port;
        OpenError error;
    } cases[] = {
        {"COM1019", OpenError::NotFound},
        {"COM0", OpenError::InvalidName},
        {"COM1025", OpenError::InvalidName},
        {"ttyUSB0", OpenError::InvalidName},
        {"", OpenError::InvalidName},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.port);
        CSerial port;
        EXPECT_FALSE(port.OpenPort(c.port, 115200, NOPARITY, 8, ONESTOPBIT));
        EXPECT_FALSE(port.IsOpen());
        EXPECT_EQ(port.LastOpenError(), c.error);
        if (c.error == OpenError::NotFound) {
            EXPECT_NE(port.LastOpenDetail().find("\\\\.\\COM1019"), std::string::npos) << port.LastOpenDetail();
        }
        char buffer[16];
        EXPECT_EQ(port.ReadAvailable(buffer), 0);
        EXPECT_EQ(port.Write("AT\r\n", 4), 0);
    }
}

class WinSerialDevice : public ::testing::Test {
protected:
    void SetUp() override
    {
        port_ = envPort("HALDEN_TEST_PORT");
        if (port_.empty())
            GTEST_SKIP() << "HALDEN_TEST_PORT names no COM port with the simulated controller";
    }
    // A backend opened and prepared like CSerial does it.
    std::unique_ptr<SerialBackend> openBackend()
    {
        auto backend = MakePlatformSerialBackend();
        std::string detail;
        EXPECT_EQ(backend->open(port_, detail), OpenError::None) << detail;
        EXPECT_TRUE(backend->prepare());
        backend->purge(true, true);
        return backend;
    }
    std::string port_;
};

TEST_F(WinSerialDevice, LineSettingsReachTheDriver)
{
    auto backend = openBackend();
    struct Case {
        LineSettings line;
        bool accepted;
    } cases[] = {
        {{115200, 0, 8, 0}, true},
        {{9600, 2, 8, 2}, true},  // even parity, two stop bits
        {{19200, 1, 8, 0}, true}, // odd
        {{56000, 0, 8, 0}, true}, // a rate of the combo outside the usual table
        {{0, 0, 8, 0}, false},    // a baud text that is no number
        {{9600, 0, 9, 0}, false},
        {{9600, 5, 8, 0}, false},
        {{9600, 0, 8, 3}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.line.baud) + " parity " + std::to_string(c.line.parity) + " bits " +
                     std::to_string(c.line.dataBits) + " stop " + std::to_string(c.line.stopBits));
        EXPECT_EQ(backend->setLineSettings(c.line), c.accepted);
        if (!c.accepted)
            continue;
        LineSettings held;
        bool parityCheck = false;
        ASSERT_TRUE(WinDriverLineSettings(*backend, held, parityCheck));
        EXPECT_EQ(held.stopBits, c.line.stopBits);
        EXPECT_EQ(held.dataBits, c.line.dataBits);
        if (!test::RunningUnderWine() || c.line.baud != 56000) {
            EXPECT_EQ(held.baud, c.line.baud);
        }
        if (!test::RunningUnderWine()) { // the pseudo-terminal keeps no parity
            EXPECT_EQ(held.parity, c.line.parity);
            EXPECT_EQ(parityCheck, c.line.parity != 0);
        }
    }
    // Back to the tool's line for the tests that follow.
    EXPECT_TRUE(backend->setLineSettings({115200, 0, 8, 0}));
    backend->close();
}

TEST_F(WinSerialDevice, QuietLineReadsNothingAndWaitsEnd)
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
    EXPECT_EQ(backend->write("S", 1, 1000), 0);
    backend->close();
}

TEST_F(WinSerialDevice, ExclusiveOpenAndCloseWhileReading)
{
    CSerial port;
    ASSERT_TRUE(port.OpenPort(port_, 115200, NOPARITY, 8, ONESTOPBIT)) << port.LastOpenDetail();
    CSerial other;
    if (!test::RunningUnderWine()) { // Wine lets a second opener in
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

TEST_F(WinSerialDevice, ConversationWithTheSimulatedController)
{
    CSerial port;
    ASSERT_TRUE(port.OpenPort(port_, 115200, NOPARITY, 8, ONESTOPBIT)) << port.LastOpenDetail();
    ASSERT_TRUE(enterConfigurationMode(port));
    EXPECT_EQ(port.Write("AT\r\n", 4), 4);
    EXPECT_NE(readUntil(port, "\r\nOK\r\n").find("\r\nOK\r\n"), std::string::npos);
    port.ClosePort();
}

TEST(WinSerialVanishing, ADeviceThatGoesAwayIsReportedLost)
{
    const std::string name = envPort("HALDEN_TEST_VANISHING_PORT");
    if (name.empty())
        GTEST_SKIP() << "HALDEN_TEST_VANISHING_PORT names no COM port whose simulator closes its line";
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
