// Every file the user names: a named pipe without a writer, a device or a
// folder is refused at once with the path and the reason, and a read-only
// file is not replaced.
#include "common/FileIo.h"
#include "config/ConfigFile.h"
#include "debug/AnswerTable.h"
#include "download/DownloadImage.h"
#include "pages/HistoryRecords.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <future>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pell {
namespace {

// One use of a file: false with "<path>: <reason>" in `m`.
struct Use {
    const char* name;
    bool writes;
    std::function<bool(const std::string& p, std::string& m)> run;
};
const Use kUses[] = {
    {"configuration file", false, [](auto& p, auto& m) { std::string b; return ReadConfigFile(p, b, &m) == ConfigFileRead::Read; }},
    {"answer table", false, [](auto& p, auto& m) { std::string b; return ReadAnswerFile(p, b, m); }},
    {"firmware image", false, [](auto& p, auto& m) {
         const auto r = DownloadImage().Load(p);
         m = p + ": " + r.reason;
         return r.status == DownloadImage::Status::Loaded;
     }},
    {"configuration or log save", true, [](auto& p, auto& m) { return WriteFileAtomically(p, "new", &m); }},
    {"records export", true, [](auto& p, auto& m) {
         const bool ok = WriteRecordCsvFile(p, "new", m);
         m = p + ": " + m;
         return ok;
     }},
};

TEST(UserFiles, PipesDevicesAndFoldersAreRefusedAtOnce)
{
    test::TempDir dir;
    const std::string fifo = dir.File("pipe.cfg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    // Devices through links: a writer that took one for a file would replace the link.
    ASSERT_EQ(::symlink("/dev/null", dir.File("null").c_str()), 0);
    ASSERT_EQ(::symlink("/dev/zero", dir.File("zero").c_str()), 0);
    for (const Use& use : kUses)
        for (const std::string& path : {fifo, dir.File("null"), dir.File("zero"), dir.Path()}) {
            std::string m;
            auto refused = std::async(std::launch::async, [&] { return !use.run(path, m); });
            if (refused.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
                ADD_FAILURE() << use.name << " blocked on " << path;
                ::close(::open(fifo.c_str(), O_RDWR | O_NONBLOCK)); // frees it
            }
            EXPECT_TRUE(refused.get()) << use.name << " " << path;
            EXPECT_EQ(m.rfind(path + ": " + kNotRegularReason, 0), 0u) << use.name << ": " << m;
        }
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"null", "pipe.cfg", "zero"}));
}

// Each writer on `path` in a child process as `uid`: 0 when it refused
// with the reason and left the file as it was.
int RefusedAs(uid_t uid, const std::string& path)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (uid != ::geteuid() && (::setgroups(0, nullptr) || ::setgid(uid) || ::setuid(uid)))
            ::_exit(3);
        for (const Use& use : kUses) {
            std::string m, after;
            if (use.writes && (use.run(path, m) || m != path + ": " + kReadOnlyReason ||
                               ReadWholeFile(path, after, nullptr) != FileRead::Done || after != "old"))
                ::_exit(1);
        }
        ::_exit(0);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(UserFiles, ReadOnlyTargetsAreNotReplaced)
{
    test::TempDir dir;
    ASSERT_TRUE(dir.Write("ref.cfg", "old"));
    ASSERT_EQ(::chmod(dir.File("ref.cfg").c_str(), 0444), 0); // for root too: nobody may write it
    EXPECT_EQ(RefusedAs(::geteuid(), dir.File("ref.cfg")), 0);
    if (::geteuid() != 0)
        GTEST_SKIP() << "becoming an ordinary user needs root";
    // An ordinary user in a folder of their own, which would allow the
    // rename: their read-only file, and a file only root may write.
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(dir.File("own").c_str(), 0755), 0);
    ASSERT_TRUE(dir.Write("own/mine.cfg", "old") && dir.Write("own/roots.cfg", "old"));
    ASSERT_EQ(::chmod(dir.File("own/mine.cfg").c_str(), 0444), 0);
    for (const char* name : {"own", "own/mine.cfg"})
        ASSERT_EQ(::chown(dir.File(name).c_str(), 65534, 65534), 0);
    EXPECT_EQ(RefusedAs(65534, dir.File("own/mine.cfg")), 0);
    EXPECT_EQ(RefusedAs(65534, dir.File("own/roots.cfg")), 0);
}

} // namespace
} // namespace pell
