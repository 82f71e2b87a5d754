// The serial port over pseudo-terminal pairs, the way a controller is attached.
#include "serial/CSerial.h"
#include "tests/support/PtyPair.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <cstring>
#include <functional>

#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using namespace pell;
using namespace pell::test;
using namespace std::chrono_literals;

namespace {

// Far beyond what a busy machine needs for something that takes a moment.
constexpr auto kPatience = 30s;

class RecordingOwner : public ISerialOwner {
public:
    void OnSerialNotify(int message, uint32_t) override
    {
        if (message == kMsgDeviceLost)
            lost.fetch_add(1);
    }
    std::atomic<int> lost{0};
};

class RecordingWatcher : public ILineWatcher {
public:
    void OnLineGone() override { gone.fetch_add(1); }
    std::atomic<int> gone{0};
};

// Reads through the port until `count` bytes arrived or the deadline passed.
std::string readAll(CSerial& port, std::size_t count, std::vector<int>* chunks = nullptr)
{
    std::string got;
    auto buffer = std::make_unique<char[]>(kReadBufferSize);
    auto end = std::chrono::steady_clock::now() + kPatience;
    while (got.size() < count && std::chrono::steady_clock::now() < end) {
        int n = port.ReadAvailable(buffer.get());
        if (n > 0) {
            got.append(buffer.get(), static_cast<std::size_t>(n));
            if (chunks)
                chunks->push_back(n);
        }
    }
    return got;
}

struct termios lineOf(const PtyPair& pty)
{
    struct termios t {};
    tcgetattr(pty.slave(), &t);
    return t;
}

// Runs `body` in a child process, as user `uid` when this one is root, so
// that the kernel treats it as it treats a technician. The child's answer:
// what went wrong, empty when nothing did; "skip" when the privileges could
// not be dropped.
std::string inChild(const std::function<std::string()>& body, uid_t uid = 0)
{
    int out[2];
    if (::pipe(out) != 0)
        return "no pipe";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(out[0]);
        const bool drop = uid != 0 && ::geteuid() == 0;
        const std::string answer = drop && (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 ||
                                            ::setuid(uid) != 0)
                                       ? "skip"
                                       : body();
        [[maybe_unused]] ssize_t n = ::write(out[1], answer.data(), answer.size());
        ::_exit(0);
    }
    ::close(out[1]);
    std::string answer;
    char buf[512];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;)
        answer.append(buf, static_cast<std::size_t>(n));
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? answer : "the child died: " + answer;
}

// An open(2) of the device as another program would do it; its errno, 0 when it opened.
int rawOpenError(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return errno;
    ::close(fd);
    return 0;
}

} // namespace

TEST(SerialPort, OpenCloseReopenWithOtherSettings)
{
    PtyPair pty;
    CSerial port;
    ASSERT_TRUE(port.OpenPort(pty.slavePath(), 115200, NOPARITY, 8, ONESTOPBIT));
    EXPECT_TRUE(port.IsOpen());
    auto t = lineOf(pty);
    EXPECT_EQ(cfgetospeed(&t), B115200);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(t.c_cflag & PARENB);
    EXPECT_FALSE(t.c_cflag & CSTOPB);

    port.ClosePort();
    EXPECT_FALSE(port.IsOpen());

    // A pseudo-terminal keeps CS8 without PARENB whatever it is asked for;
    // the rest of the line settings are visible on it.
    ASSERT_TRUE(port.OpenPort(pty.slavePath(), 9600, EVENPARITY, 7, TWOSTOPBITS));
    t = lineOf(pty);
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_FALSE(t.c_cflag & PARODD);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_iflag & INPCK); // parity checked when parity is on
    port.ClosePort();

    ASSERT_TRUE(port.OpenPort(pty.slavePath(), 19200, ODDPARITY, 5, ONESTOPBIT));
    t = lineOf(pty);
    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), static_cast<tcflag_t>(PARODD));
    port.ClosePort();

    // Mark and space parity through the stick-parity bit.
    ASSERT_TRUE(port.OpenPort(pty.slavePath(), 19200, MARKPARITY, 5, ONESTOPBIT));
    t = lineOf(pty);
    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), static_cast<tcflag_t>(PARODD | CMSPAR));
    port.ClosePort();
    ASSERT_TRUE(port.OpenPort(pty.slavePath(), 19200, SPACEPARITY, 6, ONESTOPBIT));
    t = lineOf(pty);
    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), static_cast<tcflag_t>(CMSPAR));
    port.ClosePort();

    // No parity: no parity check either.
    ASSERT_TRUE(port.OpenPort(pty.slavePath(), 38400, NOPARITY, 8, ONESTOPBIT));
    t = lineOf(pty);
    EXPECT_FALSE(t.c_iflag & INPCK);
    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR | CSTOPB), 0u);
    port.ClosePort();

    // Rates outside the termios table (the baud combo offers 14400 and 56000).
    EXPECT_TRUE(port.OpenPort(pty.slavePath(), 14400, NOPARITY, 8, ONESTOPBIT));
    port.ClosePort();
    EXPECT_TRUE(port.OpenPort(pty.slavePath(), 56000, NOPARITY, 8, ONESTOPBIT));
    port.ClosePort();
}

TEST(SerialPort, UnsupportedSettingsFailButLeaveThePortOpen)
{
    PtyPair pty;
    CSerial port;
    // One and a half stop bits do not exist on this platform.
    EXPECT_FALSE(port.OpenPort(pty.slavePath(), 115200, NOPARITY, 8, ONE5STOPBITS));
    EXPECT_TRUE(port.IsOpen());
    port.ClosePort();
    EXPECT_FALSE(port.OpenPort(pty.slavePath(), 115200, NOPARITY, 9, ONESTOPBIT));
    EXPECT_TRUE(port.IsOpen());
    port.ClosePort();
    EXPECT_FALSE(port.OpenPort(pty.slavePath(), 0, NOPARITY, 8, ONESTOPBIT)); // baud text not a number
    EXPECT_TRUE(port.IsOpen());
    port.ClosePort();
    EXPECT_FALSE(port.OpenPort(pty.slavePath(), 115200, 7, 8, ONESTOPBIT));
    EXPECT_TRUE(port.IsOpen());
    port.ClosePort();
    EXPECT_FALSE(port.IsOpen());
}

TEST(SerialPort, MissingDeviceAndBadNamesFailWithoutSideEffects)
{
    CSerial port;
    EXPECT_FALSE(port.OpenPort("/dev/halden-no-such-port", 115200, NOPARITY, 8, ONESTOPBIT));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.LastOpenError(), OpenError::NotFound);
    EXPECT_FALSE(port.OpenPort("", 115200, NOPARITY, 8, ONESTOPBIT));
    EXPECT_FALSE(port.IsOpen());
    // A file that is not a terminal is no serial port.
    EXPECT_FALSE(port.OpenPort("/dev/null", 115200, NOPARITY, 8, ONESTOPBIT));
    EXPECT_FALSE(port.IsOpen());
    char buffer[16];
    EXPECT_EQ(port.ReadAvailable(buffer), 0);
    EXPECT_EQ(port.Write("AT\r\n", 4), 0);
}

TEST(SerialPort, SecondOpenFailsAndLeavesTheFirstUntouched)
{
    PtyPair pty;
    CSerial port;
    ASSERT_TRUE(port.OpenPort(pty.slavePath(), 115200, NOPARITY, 8, ONESTOPBIT));
    EXPECT_FALSE(port.OpenPort(pty.slavePath(), 9600, NOPARITY, 8, ONESTOPBIT));
    EXPECT_TRUE(port.IsOpen());
    auto t = lineOf(pty);
    EXPECT_EQ(cfgetospeed(&t), B115200); // settings of the first open kept

    CSerial other; // no second opener of the same device either
    EXPECT_FALSE(other.OpenPort(pty.slavePath(), 115200, NOPARITY, 8, ONESTOPBIT));
    EXPECT_FALSE(other.IsOpen());
    EXPECT_EQ(other.LastOpenError(), OpenError::Busy);

    EXPECT_EQ(port.Write("AT\r\n", 4), 4);
    EXPECT_EQ(pty.receiveExactly(4, kPatience), "AT\r\n");
    pty.send("OK");
    EXPECT_EQ(readAll(port, 2), "OK");
}

TEST(SerialPort, ReadsWhatArrivesAndNothingElse)
{
    PtyPair pty;
    CSerial port;
    ASSERT_TRUE(port.OpenPort(pty.slavePath(), 115200, NOPARITY, 8, ONESTOPBIT));
    auto buffer = std::make_unique<char[]>(kReadBufferSize);

    // Nothing queued: 0 once the 20 ms ceiling has passed (a read that
    // waited for bytes would not come back at all).
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.ReadAvailable(buffer.get()), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, kPatience);

    // A large burst comes in chunks of at most 80,968 bytes, complete and in order.
    std::string burst;
    for (int i = 0; i < 200000; ++i)
        burst += static_cast<char>('A' + i % 26);
    std::thread sender([&] { pty.send(burst); });
    std::vector<int> chunks;
    std::string got = readAll(port, burst.size(), &chunks);
    sender.join();
    EXPECT_EQ(got, burst);
    for (int n : chunks)
        EXPECT_LE(n, kReadChunkMax);
}

TEST(SerialPort, WritesReportTheirCountsAndConcurrentWritersDoNotInterleave)
{
    PtyPair pty;
    CSerial port;
    ASSERT_TRUE(port.OpenPort(pty.slavePath(), 115200, NOPARITY, 8, ONESTOPBIT));
    std::string big(5000, 'x');
    std::thread reader([&] { EXPECT_EQ(pty.receiveExactly(5000, kPatience).size(), 5000u); });
    EXPECT_EQ(port.Write(big.data(), static_cast<int>(big.size())), 5000);
    reader.join();

    // Two writers, each writing whole 3000-byte blocks of its own letter.
    const int blocks = 20;
    const std::size_t blockSize = 3000;
    std::string received;
    std::thread collector([&] { received = pty.receiveExactly(2 * blocks * blockSize, kPatience); });
    auto writer = [&](char letter) {
        std::string block(blockSize, letter);
        for (int i = 0; i < blocks; ++i)
            EXPECT_EQ(port.Write(block.data(), static_cast<int>(block.size())), static_cast<int>(blockSize));
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    collector.join();
    ASSERT_EQ(received.size(), 2 * blocks * blockSize);
    int a_blocks = 0;
    for (std::size_t i = 0; i < received.size(); i += blockSize) {
        std::string block = received.substr(i, blockSize);
        EXPECT_EQ(block, std::string(blockSize, block[0])) << "block at " << i << " was interleaved";
        a_blocks += block[0] == 'a';
    }
    EXPECT_EQ(a_blocks, blocks);
}

TEST(SerialPort, VanishedDeviceFailsReadsAndWritesWithoutSpinning)
{
    PtyPair pty;
    CSerial port;
    RecordingOwner owner;
    port.SetOwner(&owner);
    RecordingWatcher watcher, removed;
    port.AddLineWatcher(&watcher);
    port.AddLineWatcher(&removed);
    port.RemoveLineWatcher(&removed);
    ASSERT_TRUE(port.OpenPort(pty.slavePath(), 115200, NOPARITY, 8, ONESTOPBIT));
    pty.closeSlaveHandle();

    std::atomic<bool> reading{true};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        auto buffer = std::make_unique<char[]>(kReadBufferSize);
        while (reading.load()) {
            port.ReadAvailable(buffer.get());
            reads.fetch_add(1);
        }
    });
    ASSERT_TRUE(WaitUntil([&] { return reads.load() > 0; }, kPatience));
    pty.closeMaster(); // the far end goes away mid-read
    // The port is marked lost first, then its watchers and its owner are told.
    ASSERT_TRUE(WaitUntil([&] { return owner.lost.load() >= 1; }, kPatience));
    EXPECT_TRUE(port.IsLost());
    EXPECT_EQ(watcher.gone.load(), 1);
    EXPECT_EQ(port.Write("AT\r\n", 4), 0);

    // A lost port still paces its reads: a handful per 20 ms period, not thousands.
    int before = reads.load();
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitUntil([&] { return reads.load() >= before + 5; }, kPatience));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 60ms);
    reading.store(false);
    reader.join();

    EXPECT_EQ(owner.lost.load(), 1) << "told once";
    EXPECT_EQ(watcher.gone.load(), 1);

    port.ClosePort(); // closing tells the watchers as well
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.IsLost());
    EXPECT_EQ(watcher.gone.load(), 2);
    EXPECT_EQ(removed.gone.load(), 0);
    port.RemoveLineWatcher(&watcher);
}

TEST(SerialPort, CloseWhileAnotherThreadReadsAndWrites)
{
    PtyPair pty;
    CSerial port;
    for (int round = 0; round < 20; ++round) {
        ASSERT_TRUE(port.OpenPort(pty.slavePath(), 115200, NOPARITY, 8, ONESTOPBIT));
        std::atomic<bool> run{true};
        std::thread reader([&] {
            auto buffer = std::make_unique<char[]>(kReadBufferSize);
            while (run.load())
                port.ReadAvailable(buffer.get());
        });
        std::thread writer([&] {
            while (run.load())
                port.Write("S", 1);
        });
        std::thread drain([&] {
            while (run.load())
                pty.receive(5ms);
        });
        port.ClosePort();
        EXPECT_FALSE(port.IsOpen());
        run.store(false);
        reader.join();
        writer.join();
        drain.join();
    }
}

TEST(SerialPort, ExclusiveUseEndsWithTheUseForAnUnprivilegedUser)
{
    // Root passes over the exclusive flag: the checks run as nobody, on a
    // pseudo-terminal whose other end stays open, which keeps the flag.
    struct Ending {
        const char* name;
        int stopBits; // one and a half: the settings are refused, the port stays open
        std::function<void(std::unique_ptr<CSerial>&)> end;
    } endings[] = {
        {"closed", ONESTOPBIT, [](auto& port) { port->ClosePort(); }},
        {"destroyed", ONESTOPBIT, [](auto& port) { port.reset(); }},
        {"closed after refused settings", ONE5STOPBITS, [](auto& port) { port->ClosePort(); }},
    };
    for (const auto& ending : endings) {
        const std::string answer = inChild([&]() -> std::string {
            if (::geteuid() == 0)
                return "skip";
            PtyPair pty;
            auto port = std::make_unique<CSerial>();
            port->OpenPort(pty.slavePath(), 115200, NOPARITY, 8, ending.stopBits);
            if (!port->IsOpen() || rawOpenError(pty.slavePath()) != EBUSY)
                return "not held exclusively while open: " + port->LastOpenDetail();
            ending.end(port);
            if (int e = rawOpenError(pty.slavePath()))
                return std::string("still exclusive: ") + std::strerror(e);
            CSerial again;
            return again.OpenPort(pty.slavePath(), 115200, NOPARITY, 8, ONESTOPBIT)
                       ? std::string()
                       : "cannot be opened again: " + again.LastOpenDetail();
        }, 65534);
        if (answer == "skip")
            GTEST_SKIP() << "cannot run as an unprivileged user";
        EXPECT_EQ(answer, "") << ending.name;
    }
}

TEST(SerialPort, RefusesWhatIsNoSerialLineAndLeavesTheUsersTerminalAlone)
{
    // The child's controlling terminal is one pseudo-terminal, its standard
    // error another: neither is a line to a controller, and no refusal may
    // change a setting, take the exclusive flag or write a byte.
    TempDir dir;
    ASSERT_TRUE(dir.Write("file", "x"));
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    PtyPair own, onStderr;
    const std::vector<std::string> ports = {own.slavePath(), "tty", "/proc/self/fd/" + std::to_string(own.slave()),
                                            onStderr.slavePath(), "/proc/self/fd/2", dir.File("file"),
                                            dir.File("fifo"), dir.Path(), "/dev/null"};
    const std::string answer = inChild([&]() -> std::string {
        if (::setsid() < 0 || ::ioctl(own.slave(), TIOCSCTTY, 0) != 0 || ::dup2(onStderr.slave(), 2) != 2)
            return "no terminal of its own";
        std::string wrong;
        for (const std::string& name : ports) {
            struct termios before[2] {}, after[2] {};
            ::tcgetattr(own.slave(), &before[0]);
            ::tcgetattr(onStderr.slave(), &before[1]);
            CSerial port;
            const bool opened = port.OpenPort(name, 9600, EVENPARITY, 7, TWOSTOPBITS);
            ::tcgetattr(own.slave(), &after[0]);
            ::tcgetattr(onStderr.slave(), &after[1]);
            int exclusive[2] = {1, 1};
            ::ioctl(own.slave(), TIOCGEXCL, &exclusive[0]);
            ::ioctl(onStderr.slave(), TIOCGEXCL, &exclusive[1]);
            if (opened || port.LastOpenError() != OpenError::NotASerialLine ||
                port.LastOpenDetail().find("not a serial line") == std::string::npos)
                wrong += name + " not refused (" + port.LastOpenDetail() + "); ";
            if (std::memcmp(before, after, sizeof before) != 0 || exclusive[0] || exclusive[1])
                wrong += name + " touched a terminal; ";
        }
        return wrong;
    });
    EXPECT_EQ(answer, "");
    EXPECT_EQ(own.receive(), "");
    EXPECT_EQ(onStderr.receive(), "");
    EXPECT_EQ(dir.Read("file"), "x");

    // The terminal the test itself runs in, when it runs in one.
    for (int fd = 0; fd <= 2; ++fd) {
        struct termios before {}, after {};
        const char* name = ::ttyname(fd);
        if (!name || ::tcgetattr(fd, &before) != 0)
            continue;
        CSerial port;
        EXPECT_FALSE(port.OpenPort(name, 9600, EVENPARITY, 7, TWOSTOPBITS));
        EXPECT_EQ(port.LastOpenError(), OpenError::NotASerialLine) << port.LastOpenDetail();
        ::tcgetattr(fd, &after);
        EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
    }
}
