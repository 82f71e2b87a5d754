// halden against the simulated controller, in-process: each test runs
// command lines as a technician would and checks the device's side (the
// commands it received, its values, the image it took), the files and the
// exit statuses. Reply time-outs and halden's --wait run on clocks the test
// moves itself; only the 1000 ms pause after a reply runs faster.
#include "cli/CliRunner.h"
#include "config/ConfigFile.h"
#include "config/ReportParser.h"
#include "protocol/CommandTable.h"
#include "serial/CSerial.h"
#include "sim/Simulator.h"
#include "tests/config/ConfigSimRig.h"
#include "tests/support/PtyPair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <thread>
#include <future>
#include <random>
#include <sstream>

#include <unistd.h>

using namespace pell;
using namespace pell::cli;
using namespace pell::test;
using namespace std::chrono_literals;

namespace {

constexpr int kHeartTime = 23; // AT+HRTTIME=
constexpr int kApn = 19;       // AT+APN=

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void put(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// Replaces the value of one line of a configuration text.
std::string withValue(std::string text, const std::string& label, const std::string& value)
{
    const std::size_t at = text.find("\r\n" + label + "  ");
    EXPECT_NE(at, std::string::npos) << label;
    const std::size_t start = at + 2 + label.size() + 2;
    text.replace(start, text.find("\r\n", start) - start, value);
    return text;
}

class CliWithSimulator : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim::Options o = ConfigDeviceOptions();
        o.autoPowerUp = true; // the 'S' or 'P' switches it on
        o.clock = &replyClock; // a late answer is late on the clock of the time-outs
        device = std::make_unique<sim::Simulator>(o);
        ASSERT_TRUE(device->Start());
        char pattern[] = "/tmp/halden-cli-sim-XXXXXX";
        dir = ::mkdtemp(pattern);
    }
    void TearDown() override
    {
        device->Stop();
        std::system(("rm -rf '" + dir + "'").c_str());
    }

    // One command line against the device, switched off first so that
    // halden's 'S' powers it up into configuration mode.
    int run(std::vector<std::string> args, const Clock* sessionClock = nullptr)
    {
        device->PowerOff();
        device->ClearCommandLog();
        out.str("");
        err.str("");
        CliEnv env;
        env.out = &out;
        env.err = &err;
        env.clock = sessionClock ? sessionClock : &replyClock;
        env.pauseClock = &pauseClock;
        env.waitClock = &waitClock;
        env.interrupt = &interrupt;
        env.progressBar = true;
        env.valuesAtEnd = [this](const ParamTable& values) {
            for (int row = 0; row < ParamRowCount(); ++row)
                table.Set(ParamRowId(row), values.Get(ParamRowId(row)).value_or(""));
        };
        args.push_back("--port");
        args.push_back(device->PortPath());
        return RunCli(args, env);
    }

    // The commands the device took after the read-back (AT, AT+SHOW).
    std::vector<std::string> commandsAfterReadBack() const
    {
        std::vector<std::string> all = device->ReceivedCommands();
        std::vector<std::string> after;
        bool shown = false;
        for (const std::string& c : all) {
            if (shown)
                after.push_back(c);
            shown = shown || c == "AT+SHOW";
        }
        return after;
    }

    std::string file(const std::string& name) const { return dir + "/" + name; }

    // run() while the clock of the time-outs moves on whenever both the
    // tool (waiting for an answer) and the device (holding a late answer
    // back) wait on it, and only then: then nothing else can happen first.
    int runPumped(std::vector<std::string> args)
    {
        std::atomic<bool> done{false};
        std::thread pump([&] {
            while (!done.load()) {
                if (replyClock.waiting() >= 2 && replyClock.settled())
                    replyClock.advance(100);
                else
                    std::this_thread::sleep_for(1ms);
            }
        });
        const int status = run(std::move(args));
        done = true;
        pump.join();
        return status;
    }

    std::unique_ptr<sim::Simulator> device;
    ManualClock replyClock;         // reply time-outs end only when the test says
    ScaledClock pauseClock{1000.0}; // the pause after a reply: 1 ms
    ManualClock waitClock;          // --wait
    Interrupt interrupt;
    std::ostringstream out, err;
    std::string dir;
    ParamTable table; // what the last session's jobs left in its engine's table
};

TEST_F(CliWithSimulator, ReadSavesTheWindowsFile)
{
    const std::string path = file("unit.cfg");
    ASSERT_EQ(run({"read", "-o", path}), kExitOk) << err.str();
    EXPECT_NE(err.str().find("switch it off and on again"), std::string::npos) << err.str();
    const std::string saved = slurp(path);
    // What "保存配置到文件" writes after the same read-back: the table as text.
    EXPECT_EQ(saved, FormatConfigText(table));
    // 155 lines in table order, every configurable value the controller's.
    std::size_t at = 0;
    for (int row = 0; row < ParamRowCount() - 1; ++row) {
        const int id = ParamRowId(row);
        const std::string head = std::string(ParamRowLabel(row)) + "  ";
        ASSERT_EQ(saved.compare(at, head.size(), head), 0) << "row " << row;
        const std::size_t end = saved.find("\r\n", at);
        if (id <= 144) {
            EXPECT_EQ(saved.substr(at + head.size(), end - at - head.size()), device->Param(id).value())
                << "id " << id;
        }
        at = end + 2;
    }
    EXPECT_EQ(at, saved.size());
}

TEST_F(CliWithSimulator, DiffAndWriteSendOnlyWhatDiffers)
{
    const std::string reference = file("ref.cfg");
    ASSERT_EQ(run({"read", "-o", reference}), kExitOk) << err.str();
    const std::string edited = file("edited.cfg");
    put(edited, withValue(withValue(slurp(reference), "Heart time:", "45"), "Modem Apn:", "cmnet2"));
    const std::string controllerHeart = device->Param(kHeartTime).value();

    struct Step {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> commands; // what the device took after the read-back
        std::string outHas;
    } const steps[] = {
        {{"diff", reference}, kExitOk, {}, ""},
        {{"diff", edited}, kExitDiffer, {}, "Heart time:  controller \"" + controllerHeart + "\"  file \"45\""},
        {{"write", edited, "--dry-run"}, kExitOk, {}, "AT+APN=cmnet2\nAT+HRTTIME=45\n"},
        {{"write", edited}, kExitOk, {"AT+APN=cmnet2", "AT+HRTTIME=45"}, "AT+HRTTIME=45  设置成功"},
        {{"diff", edited}, kExitOk, {}, ""},
        {{"write", edited}, kExitOk, {}, ""},
    };
    for (const Step& s : steps) {
        EXPECT_EQ(run(s.args), s.status) << s.args[0] << " " << err.str();
        EXPECT_EQ(commandsAfterReadBack(), s.commands) << s.args[0];
        EXPECT_NE(out.str().find(s.outHas), std::string::npos) << out.str();
    }
    EXPECT_EQ(device->Param(kHeartTime), "45");
    EXPECT_EQ(device->Param(kApn), "cmnet2");

    // A refused parameter is named; the parameters after it still go out.
    device->UpdateFaults([](sim::Faults& f) { f.errorFor = {"AT+APN="}; });
    put(edited, withValue(withValue(slurp(reference), "Heart time:", "50"), "Modem Apn:", "cmnet3"));
    EXPECT_EQ(run({"write", edited}), kExitRefused);
    EXPECT_EQ(commandsAfterReadBack(), (std::vector<std::string>{"AT+APN=cmnet3", "AT+HRTTIME=50"}));
    EXPECT_NE(out.str().find("AT+APN=cmnet3  设置失败 (refused: ERROR)"), std::string::npos) << out.str();
    EXPECT_NE(err.str().find("the controller refused AT+APN=cmnet3 (1 of 2 commands not confirmed)"),
              std::string::npos)
        << err.str();
    EXPECT_EQ(device->Param(kHeartTime), "50");
}

TEST_F(CliWithSimulator, GetAndSetOneParameter)
{
    ASSERT_EQ(run({"set", "heart time", "30"}), kExitOk) << err.str();
    EXPECT_EQ(commandsAfterReadBack(), std::vector<std::string>{"AT+HRTTIME=30"});
    EXPECT_EQ(run({"set", "23", "30"}), kExitOk);
    EXPECT_TRUE(commandsAfterReadBack().empty()) << "an unchanged value is not sent";
    ASSERT_EQ(run({"get", "Heart time:", "--json"}), kExitOk) << err.str();
    EXPECT_EQ(out.str(), "{\"ok\":true,\"id\":23,\"label\":\"Heart time:\",\"value\":\"30\"}\n");
    ASSERT_EQ(run({"get", "19"}), kExitOk);
    EXPECT_EQ(out.str(), device->Param(kApn).value() + "\n");

    // A value the controller refuses: the command is named, status 5.
    device->UpdateFaults([](sim::Faults& f) { f.errorFor = {"AT+HRTTIME="}; });
    EXPECT_EQ(run({"set", "23", "31"}), kExitRefused);
    EXPECT_NE(err.str().find("the controller refused AT+HRTTIME=31"), std::string::npos) << err.str();
    EXPECT_EQ(device->Param(kHeartTime), "30");

    // Refused before the port is opened: no such parameter, a value too long.
    EXPECT_EQ(run({"get", "Nonsense:"}), kExitUsage);
    EXPECT_EQ(run({"set", "152", "x"}), kExitUsage);
    EXPECT_EQ(run({"set", "23", std::string(100, '1')}), kExitUsage);
    EXPECT_EQ(device->CommandCount(), 0u);
}

TEST_F(CliWithSimulator, MaintenanceClockAndInitialValues)
{
    struct Step {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> commands; // what the device took after the read-back
        std::string outHas, errHas;
    } const steps[] = {
        {{"version"}, kExitOk, {"AT+VER"}, "", ""},
        {{"signal"}, kExitOk, {"AT+CSQ"}, "", ""},
        {{"restart"}, kExitUsage, {}, "", "'restart' changes the controller; add --yes"},
        {{"set", "23", "30"}, kExitOk, {"AT+HRTTIME=30"}, "", ""},
        {{"factory", "--yes"}, kExitOk, {"AT+FACTORY", "AT+SHOW"}, "", ""},
        {{"clear-cache", "--yes"}, kExitOk, {"AT+INITDATAFLASH"}, "", "清除缓存成功"},
        {{"counter", "1", "123"}, kExitOk, {"AT+CNTRVAL01=123"}, "", "设置计数器值成功"},
        {{"counter", "1"}, kExitOk, {"AT+CNTRVAL01?"}, "123\n", "获取计数器值成功"},
        {{"meter", "3", "500"}, kExitOk, {"AT+COMVAL03=500"}, "", "设置串口初值成功"},
        {{"clock", "--set", "2026/01/04 00:00:00"}, kExitOk, {"AT+EXCCLK=\"2026/01/04,00:00:00\",0"}, "", "设置时间成功"},
        {{"clock", "--set", "tomorrow"}, kExitUsage, {}, "", "--set wants a real local time"},
        {{"counter", "5"}, kExitUsage, {}, "", "counter wants N from 1 to 4"},
        {{"restart", "--yes"}, kExitOk, {"AT+RESET"}, "", ""},
    };
    for (const Step& s : steps) {
        EXPECT_EQ(run(s.args), s.status) << s.args[0] << " " << err.str();
        EXPECT_EQ(commandsAfterReadBack(), s.commands) << s.args[0];
        EXPECT_NE(out.str().find(s.outHas), std::string::npos) << s.args[0] << ": " << out.str();
        EXPECT_NE(err.str().find(s.errHas), std::string::npos) << s.args[0] << ": " << err.str();
    }
    EXPECT_EQ(device->Param(kHeartTime), sim::Simulator::FactoryValue(kHeartTime));
    EXPECT_EQ(device->CounterValue(0), "123");
    EXPECT_EQ(device->SerialValue(2), "500");

    device->UpdateFaults([](sim::Faults& f) { f.errorFor = {"AT+INITSENSOR"}; });
    EXPECT_EQ(run({"clear-meter", "--yes"}), kExitRefused);
    EXPECT_NE(err.str().find("清除仪表失败"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("the controller refused AT+INITSENSOR"), std::string::npos) << err.str();
}

TEST_F(CliWithSimulator, RecordsToCsv)
{
    device->SetRecords(sim::Simulator::SampleRecords(2026, 3, 31, 25)); // three batches of ten
    const std::string path = file("records.csv");
    ASSERT_EQ(run({"records", "--from", "2026-01-01", "--to", "2026/3/31", "-o", path, "--json"}), kExitOk)
        << err.str();
    EXPECT_EQ(commandsAfterReadBack().front(), "AT+RDNFCRCRD=;2026/1/1,0:0:0;2026/3/31,23:55:55");
    EXPECT_EQ(out.str().rfind("{\"ok\":true,\"file\":\"" + path + "\",\"records\":25,\"rows\":[[\"", 0), 0u)
        << out.str();
    const std::string csv = slurp(path);
    // The window's CSV: its header with ',' for ';', one CR LF line per record.
    EXPECT_EQ(csv.rfind("\xD0\xF2\xBA\xC5,\xBF\xA8ID,", 0), 0u);
    std::size_t lines = 0;
    for (std::size_t at = csv.find("\r\n"); at != std::string::npos; at = csv.find("\r\n", at + 2))
        ++lines;
    EXPECT_EQ(lines, 26u);

    // A query the controller refuses writes nothing.
    device->UpdateFaults([](sim::Faults& f) { f.errorFor = {"AT+RDNFCRCRD="}; });
    const std::string failed = file("failed.csv");
    EXPECT_EQ(run({"records", "--from", "2026-01-01", "--to", "2026-03-31", "-o", failed}), kExitSilent);
    EXPECT_NE(err.str().find("the records query failed"), std::string::npos) << err.str();
    EXPECT_NE(access(failed.c_str(), F_OK), 0);
    EXPECT_EQ(run({"records", "--from", "2026-13-01", "--to", "2026-03-31", "-o", failed}), kExitUsage);
}

TEST_F(CliWithSimulator, JsonShapes)
{
    const std::string path = file("j.cfg");
    ASSERT_EQ(run({"read", "-o", path, "--json"}), kExitOk);
    const std::string read = out.str();
    EXPECT_EQ(read.rfind("{\"ok\":true,\"file\":\"" + path + "\",\"bytes\":", 0), 0u) << read;
    EXPECT_NE(read.find("{\"id\":23,\"label\":\"Heart time:\",\"value\":\""), std::string::npos);
    put(path, withValue(slurp(path), "Heart time:", "99"));
    ASSERT_EQ(run({"diff", path, "--json"}), kExitDiffer);
    EXPECT_EQ(out.str(), "{\"ok\":true,\"equal\":false,\"differences\":[{\"id\":23,\"label\":\"Heart "
                         "time:\",\"controller\":\"" + device->Param(kHeartTime).value() +
                             "\",\"file\":\"99\"}]}\n");
    EXPECT_EQ(run({"diff", file("missing.cfg"), "--json"}), kExitFile);
    EXPECT_EQ(out.str().rfind("{\"ok\":false,\"status\":6,\"error\":\"cannot use the configuration file: ", 0), 0u)
        << out.str();
}

TEST_F(CliWithSimulator, SilentControllerMissingAndBusyPorts)
{
    device->UpdateFaults([](sim::Faults& f) { f.silent = true; });
    auto silent = std::async(std::launch::async, [&] { return run({"read", "-o", file("s.cfg"), "--wait", "20"}); });
    ASSERT_TRUE(waitClock.awaitWaiting(1));
    waitClock.advance(20000);
    EXPECT_EQ(silent.get(), kExitSilent);
    EXPECT_NE(err.str().find("did not enter configuration mode within 20 s"), std::string::npos) << err.str();
    EXPECT_NE(access(file("s.cfg").c_str(), F_OK), 0) << "no file without a read-back";

    std::ostringstream o, e;
    CliEnv env;
    env.out = &o;
    env.err = &e;
    EXPECT_EQ(RunCli({"get", "1", "--port", "/dev/halden-no-such-port"}, env), kExitPort);
    EXPECT_NE(e.str().find("does not exist"), std::string::npos) << e.str();
    EXPECT_EQ(RunCli({"get", "1", "--port", "/dev/null"}, env), kExitPort);
    EXPECT_NE(e.str().find("refusing to use /dev/null as the controller's port"), std::string::npos) << e.str();
    CSerial holder;
    ASSERT_TRUE(holder.OpenPort(device->PortPath(), 115200, NOPARITY, 8, ONESTOPBIT));
    EXPECT_EQ(RunCli({"get", "1", "--port", device->PortPath()}, env), kExitPort);
    EXPECT_NE(e.str().find("is busy"), std::string::npos) << e.str();
    env.listPorts = [] { return std::vector<std::string>{}; };
    EXPECT_EQ(RunCli({"get", "1"}, env), kExitPort);
    EXPECT_NE(e.str().find("no serial port found"), std::string::npos) << e.str();
}

TEST_F(CliWithSimulator, ControllerThatAnswersWrong)
{
    struct Case {
        std::vector<std::string> refused; // command lines answered with ERROR
        std::string errHas;
    } const cases[] = {
        {{"AT"}, "did not confirm AT (10 attempts)"},
        {{"AT+SHOW"}, "its parameter report (AT+SHOW) could not be read in 9 attempts"},
    };
    for (const Case& c : cases) {
        device->UpdateFaults([&](sim::Faults& f) { f.errorFor = c.refused; });
        EXPECT_EQ(run({"read", "-o", file("w.cfg")}), kExitSilent) << c.errHas;
        EXPECT_NE(err.str().find(c.errHas), std::string::npos) << err.str();
        EXPECT_NE(access(file("w.cfg").c_str(), F_OK), 0);
    }
}

TEST_F(CliWithSimulator, SilentBootLoader)
{
    device->UpdateFaults([](sim::Faults& f) { f.silent = true; });
    const std::string path = file("fw.bin");
    put(path, std::string(5000, 'x'));
    auto flashing = std::async(std::launch::async, [&] { return run({"flash", path, "--wait", "30"}, &systemClock()); });
    ASSERT_TRUE(waitClock.awaitWaiting(1));
    waitClock.advance(30000);
    EXPECT_EQ(flashing.get(), kExitSilent);
    EXPECT_NE(err.str().find("the boot loader did not answer within 30 s"), std::string::npos) << err.str();
    EXPECT_EQ(device->Loader().transfersStarted, 0);
}

TEST_F(CliWithSimulator, InterruptWhileWaitingClosesThePort)
{
    device->UpdateFaults([](sim::Faults& f) { f.silent = true; });
    auto waiting = std::async(std::launch::async, [&] { return run({"read", "-o", file("i.cfg")}); });
    ASSERT_TRUE(waitClock.awaitWaiting(1));
    interrupt.Raise();
    EXPECT_EQ(waiting.get(), kExitInterrupted);
    EXPECT_NE(access(file("i.cfg").c_str(), F_OK), 0);
    // The port is free again.
    CSerial next;
    EXPECT_TRUE(next.OpenPort(device->PortPath(), 115200, NOPARITY, 8, ONESTOPBIT));
}

TEST_F(CliWithSimulator, FlashSendsTheImageByteForByte)
{
    std::string image(9000, '\0');
    std::mt19937 random(15);
    for (char& c : image)
        c = static_cast<char>(random());
    const std::string path = file("fw.bin");
    put(path, image);
    // The handshake and the block answers on real time: the download's own
    // pacing; a slow answer only restarts the image.
    ASSERT_EQ(run({"flash", path, "--json"}, &systemClock()), kExitOk) << err.str();
    ASSERT_TRUE(device->ImageComplete());
    const std::vector<uint8_t> got = device->ReceivedImage();
    EXPECT_EQ(std::string(got.begin(), got.end()), image);
    EXPECT_NE(err.str().find("3/3 blocks"), std::string::npos) << err.str();
    EXPECT_EQ(out.str().rfind("{\"ok\":true,\"image\":\"" + path + "\",\"bytes\":9000,\"blocks\":3,", 0), 0u)
        << out.str();
    put(path, "");
    EXPECT_EQ(run({"flash", path}), kExitFile);
}

// A controller that answers late: whatever its answer says, a command
// answered after its time-out is not confirmed, and the late answer never
// passes for the answer of the command after it (AT+HRTTIME=, answered at
// once). Late by less than the time-out is simply slow.
TEST_F(CliWithSimulator, LateAnswersAreNotConfirmedAndNotCreditedToTheNextCommand)
{
    const std::string reference = file("ref.cfg");
    ASSERT_EQ(run({"read", "-o", reference}), kExitOk) << err.str();
    const std::string phone = ParamLabel(1);
    struct Case {
        int lateMs;
        bool refused;
        int status;
        std::string phoneOutcome;
    } const cases[] = {
        {500, false, kExitOk, "设置成功"},
        {500, true, kExitRefused, "设置失败 (refused: ERROR)"},
        {1500, false, kExitRefused, "设置失败 (answered late, after the time-out)"},
        {1500, true, kExitRefused, "设置失败 (answered late, after the time-out)"},
        {2500, false, kExitRefused, "设置失败 (answered late, after the time-out)"},
        {2500, true, kExitRefused, "设置失败 (answered late, after the time-out)"},
        {4500, false, kExitRefused, "设置失败 (answered late, after the time-out)"},
        {4500, true, kExitRefused, "设置失败 (answered late, after the time-out)"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.lateMs) + (c.refused ? " ms, refused" : " ms, taken"));
        const std::string number = "1390000000" + std::to_string(n++);
        const std::string heart = std::to_string(30 + n);
        const std::string edited = file("late.cfg");
        put(edited, withValue(withValue(slurp(reference), phone, number), "Heart time:", heart));
        device->UpdateFaults([&](sim::Faults& f) {
            f.lateFor = {{"AT+PHON=", c.lateMs}};
            f.errorFor = c.refused ? std::vector<std::string>{"AT+PHON="} : std::vector<std::string>{};
        });
        const std::string before = device->Param(1).value_or("");
        EXPECT_EQ(runPumped({"write", edited}), c.status) << err.str();
        EXPECT_EQ(commandsAfterReadBack(), (std::vector<std::string>{"AT+PHON=" + number, "AT+HRTTIME=" + heart}));
        EXPECT_NE(out.str().find("AT+PHON=" + number + "  " + c.phoneOutcome + "\n"), std::string::npos) << out.str();
        EXPECT_NE(out.str().find("AT+HRTTIME=" + heart + "  设置成功\n"), std::string::npos) << out.str();
        EXPECT_EQ(table.Get(1).value_or(""), c.status == kExitOk ? number : before)
            << "nothing looks written that was not confirmed (the table keeps the controller's value)";
        EXPECT_EQ(device->Param(kHeartTime), heart);
    }
}

// The six maintenance commands against a controller that confirms, refuses,
// answers both ways at once, or writes each command back before its answer:
// the exit status is the controller's answer, never a guess from texts.
TEST_F(CliWithSimulator, MaintenanceOutcomesAreTheControllersAnswer)
{
    struct Command {
        std::vector<std::string> args;
        std::string line;    // as the controller receives it
        std::string okBox;   // the box of the outcome, if any
        std::string failBox;
    } const commands[] = {
        {{"version"}, "AT+VER", "", ""},
        {{"signal"}, "AT+CSQ", "", ""},
        {{"restart", "--yes"}, "AT+RESET", "", ""},
        {{"factory", "--yes"}, "AT+FACTORY", "", ""},
        {{"clear-cache", "--yes"}, "AT+INITDATAFLASH", "清除缓存成功", "清除缓存失败"},
        {{"clear-meter", "--yes"}, "AT+INITSENSOR", "清除仪表成功", "清除仪表失败"},
    };
    enum Answer { Ok, Error, Both, Echo };
    for (const Command& c : commands) {
        for (Answer a : {Ok, Error, Both, Echo}) {
            SCOPED_TRACE(c.line + " " + std::to_string(a));
            device->UpdateFaults([&](sim::Faults& f) {
                f = sim::Faults();
                f.errorFor = a == Error ? std::vector<std::string>{c.line} : std::vector<std::string>{};
                f.bothFor = a == Both ? std::vector<std::string>{c.line} : std::vector<std::string>{};
                f.echo = a == Echo;
            });
            const bool confirmed = a == Ok || a == Echo;
            EXPECT_EQ(run(c.args), confirmed ? kExitOk : kExitRefused) << err.str();
            EXPECT_EQ(commandsAfterReadBack().at(0), c.line);
            if (!c.okBox.empty()) {
                EXPECT_NE(err.str().find(confirmed ? c.okBox : c.failBox), std::string::npos) << err.str();
            }
            if (!confirmed) {
                EXPECT_NE(err.str().find("the controller refused " + c.line), std::string::npos) << err.str();
            }
            EXPECT_EQ(out.str().find(c.line), std::string::npos) << "an echo is no answer: " << out.str();
        }
    }
    device->UpdateFaults([](sim::Faults& f) { f = sim::Faults(); });
}

// A report with lost lines or a damaged label is not the controller's
// parameter set: read writes nothing (or, with --partial, what it held),
// get of a parameter it lacked has no value to give.
TEST_F(CliWithSimulator, ReportThatLacksParametersIsNotTakenAsWhole)
{
    struct Case {
        int dropped;
        int damaged;
    } const cases[] = {{1, -1}, {75, -1}, {0, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.dropped) + " lost, line " + std::to_string(c.damaged) + " damaged");
        device->UpdateFaults([&](sim::Faults& f) {
            f.dropReportLines = c.dropped;
            f.damageReportLine = c.damaged;
        });
        const std::string sent = device->ReportWithFaults();
        const ReportReading reading = ReadReport(sent.data(), sent.size());
        ASSERT_FALSE(reading.missing.empty());
        const std::string path = file("partial" + std::to_string(c.dropped) + ".cfg");
        EXPECT_EQ(run({"read", "-o", path}), kExitRefused);
        EXPECT_NE(err.str().find("was not whole (" + std::to_string(reading.missing.size()) + " parameter(s) missing"),
                  std::string::npos) << err.str();
        EXPECT_NE(access(path.c_str(), F_OK), 0) << "no file from a report that was not whole";

        ASSERT_EQ(run({"read", "-o", path, "--partial"}), kExitOk) << err.str();
        const std::string saved = slurp(path);
        for (int id = 0; id <= 144; ++id) {
            const bool lacked = std::find(reading.missing.begin(), reading.missing.end(), id) != reading.missing.end();
            const std::string head = "\r\n" + std::string(ParamLabel(id)) + "  ";
            EXPECT_EQ(("\r\n" + saved).find(head) == std::string::npos, lacked) << "id " << id;
        }
        const int lacked = reading.missing.front();
        EXPECT_EQ(run({"get", std::to_string(lacked)}), kExitRefused);
        EXPECT_NE(err.str().find("its value is not known"), std::string::npos) << err.str();
        EXPECT_EQ(out.str(), "");
    }
    device->UpdateFaults([](sim::Faults& f) { f = sim::Faults(); });
}

// At 9600 baud the report takes longer than AT+SHOW's 5000 ms to arrive:
// a reply still arriving is waited for, and the read succeeds (real time:
// the line's own pace).
TEST_F(CliWithSimulator, ReportPacedAt9600BaudIsReadWhole)
{
    device->SetBaud(9600);
    const std::string path = file("slow.cfg");
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(run({"read", "-o", path, "--baud", "9600"}, &systemClock()), kExitOk) << err.str();
    EXPECT_GT(std::chrono::steady_clock::now() - began, 5s) << "the report took less than the time-out";
    EXPECT_EQ(slurp(path), FormatConfigText(table));
    device->SetBaud(0);
}

// The adapter pulled while a command waits for its answer, or mid-download:
// told as a port that went away (exit 3), at once, not as a silent
// controller after its time-outs (the clocks of the time-outs stand still).
TEST_F(CliWithSimulator, VanishedPortIsToldAsSuchAtOnce)
{
    const std::string image = file("fw.bin");
    put(image, std::string(3 * 4096, 'i'));
    struct Case {
        std::vector<std::string> args;
        std::function<bool()> underWay; // the moment to pull the cable
        std::string errHas;
    } const cases[] = {
        {{"version"}, [&] { return device->CommandCount() > 0 && device->ReceivedCommands().back() == "AT+VER"; },
         "the port went away during AT+VER"},
        {{"set", "23", "77"},
         [&] { return device->CommandCount() > 0 && device->ReceivedCommands().back() == "AT+HRTTIME=77"; },
         "the port went away during AT+HRTTIME=77"},
        {{"flash", image}, [&] { return device->Blocks().size() >= 2; }, "the port went away during the download"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        // Answers to the job's own command, and to the second block, are
        // held back.
        device->UpdateFaults([](sim::Faults& f) {
            f.lateFor = {{"AT+VER", 1 << 30}, {"AT+HRTTIME=", 1 << 30}};
            f.dropAckBlock = 2;
        });
        auto running = std::async(std::launch::async, [&] {
            return run(c.args, c.args[0] == "flash" ? &systemClock() : nullptr);
        });
        ASSERT_TRUE(WaitUntil(c.underWay, 60s));
        device->CloseLine();
        ASSERT_EQ(running.wait_for(60s), std::future_status::ready);
        EXPECT_EQ(running.get(), kExitPort) << err.str();
        EXPECT_NE(err.str().find(c.errHas), std::string::npos) << err.str();
        EXPECT_EQ(replyClock.nowMs(), 0) << "not by a time-out";
        // A new line for the next case.
        device->Stop();
        device->UpdateFaults([](sim::Faults& f) { f = sim::Faults(); });
        ASSERT_TRUE(device->Start());
    }
}

// halden clock --set takes real dates and times only; anything else is
// refused before the port is opened, and nothing reaches the controller.
TEST_F(CliWithSimulator, ClockSetTakesOnlyRealTimes)
{
    struct Case {
        const char* text;
        int status;
        const char* sent; // what the controller receives, when accepted
    } const cases[] = {
        {"2024/13/45 99:99:99", kExitUsage, nullptr},
        {"2024/02/30 00:00:00", kExitUsage, nullptr},
        {"2023/02/29 12:00:00", kExitUsage, nullptr},
        {"2026/01/04 24:00:00", kExitUsage, nullptr},
        {"2026/01/04 00:00:00 tomorrow", kExitUsage, nullptr},
        {"2026/01/04  00:00:00", kExitUsage, nullptr},
        {"2026/-1/04 00:00:00", kExitUsage, nullptr},
        {"2026-01-04 00:00:00", kExitUsage, nullptr},
        {"2024/02/29 23:59:59", kExitOk, "AT+EXCCLK=\"2024/02/29,23:59:59\",4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(run({"clock", "--set", c.text}), c.status) << err.str();
        if (c.sent == nullptr) {
            EXPECT_EQ(device->CommandCount(), 0u);
            EXPECT_NE(err.str().find("--set wants a real local time"), std::string::npos) << err.str();
        } else {
            EXPECT_EQ(commandsAfterReadBack(), std::vector<std::string>{c.sent});
        }
    }
}

} // namespace
