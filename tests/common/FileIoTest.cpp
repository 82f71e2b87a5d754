// Whole-file writes that replace a file in one step or not at all (the
// reads are tried through the configuration page's file button).
#include "common/FileIo.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

namespace pell {
namespace {

using test::FileSizeLimit;
using test::TempDir;

TEST(FileIo, WriteCreatesOrReplacesWholeAndKeepsThePermissionBits)
{
    TempDir dir;
    const std::string path = dir.File("a.cfg");
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(path, "first\r\n", &error)) << error;
    EXPECT_EQ(dir.Read("a.cfg"), "first\r\n");

    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const std::string bigger(5000, 'x');
    ASSERT_TRUE(WriteFileAtomically(path, bigger, &error)) << error;
    EXPECT_EQ(dir.Read("a.cfg"), bigger);
    ASSERT_TRUE(WriteFileAtomically(path, "", &error)) << error;
    EXPECT_EQ(dir.Read("a.cfg"), "");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"a.cfg"}) << "no temporary file is left";
}

// Every way a write can fail leaves the old file as it was, no stray file,
// and an error that names the path and the reason.
TEST(FileIo, FailedWriteLeavesTheOldFileAndSaysWhereAndWhy)
{
    TempDir dir;
    ASSERT_TRUE(dir.Write("old.cfg", "old contents\r\n"));
    ASSERT_EQ(::mkdir(dir.File("folder").c_str(), 0755), 0);
    struct Case {
        const char* name;
        std::string path;
        std::string bytes;
        unsigned long sizeLimit; // 0: none
        const char* reason;
    } cases[] = {
        {"disk full halfway", dir.File("old.cfg"), std::string(10000, 'n'), 4096, "File too large"},
        {"no such folder", dir.File("missing/old.cfg"), "x", 0, "No such file or directory"},
        {"a folder by that name", dir.File("folder"), "x", 0, "not a regular file"},
        {"empty name", "", "x", 0, "empty file name"},
    };
    for (const Case& c : cases) {
        std::string error;
        bool written;
        if (c.sizeLimit != 0) {
            FileSizeLimit limit(c.sizeLimit);
            written = WriteFileAtomically(c.path, c.bytes, &error);
        } else {
            written = WriteFileAtomically(c.path, c.bytes, &error);
        }
        EXPECT_FALSE(written) << c.name;
        EXPECT_EQ(error.rfind(c.path + ": ", 0), 0u) << c.name << ": " << error;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
        EXPECT_EQ(dir.Read("old.cfg"), "old contents\r\n") << c.name;
        EXPECT_EQ(dir.Names(), (std::vector<std::string>{"folder", "old.cfg"})) << c.name;
    }
}

} // namespace
} // namespace pell
