// Configuration files as halden compares them with a controller: the
// length limits, a byte-order mark, files that name nothing, and values
// read by the file parser into values of their own.
#include "cli/CliRunner.h"
#include "cli/ConfigFileIo.h"
#include "config/ConfigFile.h"
#include "protocol/CommandTable.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <future>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace pell;
using namespace pell::cli;

namespace {

class TempDir {
public:
    TempDir()
    {
        char pattern[] = "/tmp/halden-cli-XXXXXX";
        path_ = ::mkdtemp(pattern);
    }
    ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

void put(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string padded(std::string text, std::size_t size)
{
    text.resize(size, ' ');
    return text;
}

TEST(CliFiles, ReadsWhatTheParserTakes)
{
    TempDir dir;
    const std::string heart = "Heart time:  60\r\n";
    struct Case {
        const char* name;
        std::string bytes;
        bool ok;
        const char* whyHas;
        int heartValues; // values read for "Heart time:" (id 23)
    } const cases[] = {
        {"empty", "", false, "1 to 80969 bytes", 0},
        {"largest", padded(heart, kConfigTextMax), true, "", 1},
        {"too large", padded(heart, kConfigTextBufferSize), false, "1 to 80969 bytes", 0},
        {"byte-order mark", "\xEF\xBB\xBF" + heart, true, "", 1},
        {"no label", "Nothing here:  1\r\n", false, "no line names a parameter", 0},
        {"bare LF stores nothing", "Heart time:  60\n", false, "no line names a parameter", 0},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file("c.cfg");
        put(path, c.bytes);
        std::string bytes, why;
        FileValues values;
        EXPECT_EQ(ReadConfigFileValues(path, bytes, values, why), c.ok) << c.name << ": " << why;
        if (!c.ok) {
            EXPECT_NE(why.find(c.whyHas), std::string::npos) << c.name << ": " << why;
        }
        EXPECT_EQ(static_cast<int>(values.count(23)), c.heartValues) << c.name;
        if (c.heartValues) {
            EXPECT_EQ(values.at(23), "60") << c.name;
        }
    }
    std::string bytes, why;
    FileValues values;
    EXPECT_FALSE(ReadConfigFileValues(dir.file("missing.cfg"), bytes, values, why));
    EXPECT_NE(why.find("No such file"), std::string::npos) << why;
    EXPECT_FALSE(ReadConfigFileValues(dir.path(), bytes, values, why));
}

TEST(CliFiles, NamedEmptyValuesAreValues)
{
    TempDir dir;
    put(dir.file("e.cfg"), "Modem Apn:  \r\nHeart time:  60 trailing words\r\n");
    std::string bytes, why;
    FileValues values;
    ASSERT_TRUE(ReadConfigFileValues(dir.file("e.cfg"), bytes, values, why)) << why;
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values.at(19), "");
    EXPECT_EQ(values.at(23), "60");
}

// A named pipe that nobody writes is refused before any port is opened.
TEST(CliFiles, DiffOfANamedPipeEndsAtOnceWithTheFileStatus)
{
    TempDir dir;
    const std::string fifo = dir.file("pipe.cfg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    std::ostringstream out, err;
    CliEnv env;
    env.out = &out;
    env.err = &err;
    auto status = std::async(std::launch::async, [&] { return RunCli({"diff", fifo, "--port", dir.file("no")}, env); });
    if (status.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "halden diff blocked on the pipe";
        ::close(::open(fifo.c_str(), O_RDWR | O_NONBLOCK)); // frees it
    }
    EXPECT_EQ(status.get(), kExitFile);
    EXPECT_NE(err.str().find(fifo + ": is not a regular file (a named pipe)"), std::string::npos) << err.str();
}

} // namespace
