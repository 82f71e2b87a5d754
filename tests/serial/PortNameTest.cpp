#include "serial/SerialBackend.h"

#include <gtest/gtest.h>

using namespace pell;

TEST(PortName, PosixNamesAreDevicesOrPaths)
{
    EXPECT_EQ(PosixDevicePath("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(PosixDevicePath("/dev/pts/3"), "/dev/pts/3");
    EXPECT_EQ(PosixDevicePath("/tmp/halden-sim-0/sim"), "/tmp/halden-sim-0/sim");
    EXPECT_EQ(PosixDevicePath(""), "");
}

TEST(PortName, WindowsComNumbersFromOneTo1024)
{
    EXPECT_EQ(WindowsDevicePath("COM1"), "\\\\.\\COM1");
    EXPECT_EQ(WindowsDevicePath("COM7"), "\\\\.\\COM7");
    EXPECT_EQ(WindowsDevicePath("COM10"), "\\\\.\\COM10"); // from 10 on only this name opens
    EXPECT_EQ(WindowsDevicePath("COM1024"), "\\\\.\\COM1024");
    EXPECT_EQ(WindowsDevicePath("COM0"), "");
    EXPECT_EQ(WindowsDevicePath("COM1025"), "");
    EXPECT_EQ(WindowsDevicePath("COM"), "");   // shorter than four characters
    EXPECT_EQ(WindowsDevicePath("COMx"), "");
    EXPECT_EQ(WindowsDevicePath("COM99999999"), "");
}
