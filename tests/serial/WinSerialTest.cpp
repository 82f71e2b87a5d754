// The Win32 serial backend's own cases and the port list from the
// registry. The line settings need a COM port, named by HALDEN_TEST_PORT
// (scripts/test-windows maps a Wine COM port to the simulator's
// pseudo-terminal); the cases every backend shares are in SerialDeviceTest.
#include "serial/CSerial.h"
#include "serial/PortList.h"
#include "serial/WinSerialBackend.h"
#include "tests/serial/WinTestSystem.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

using namespace pell;

namespace {

std::string envPort(const char* name)
{
    const char* port = std::getenv(name);
    return port ? port : "";
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
