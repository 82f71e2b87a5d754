// The Windows side of the whole-file reads and writes: names with blanks,
// in UTF-8 or the system's code page, replacing a file in one step, and failures that leave the
// old file and name the path, and a read-only file that stays as it is.
#include "common/FileIo.h"

#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

namespace pell {
namespace {

// A folder of its own under the temporary folder, removed with its files.
class WinTempDir {
public:
    WinTempDir()
    {
        char base[MAX_PATH + 1] = {};
        ::GetTempPathA(MAX_PATH, base);
        for (unsigned i = 0; dir_.empty() && i < 1000; ++i) {
            std::string candidate = std::string(base) + "halden file test " +
                                    std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(i);
            if (::CreateDirectoryA(candidate.c_str(), nullptr))
                dir_ = candidate;
        }
    }
    ~WinTempDir()
    {
        WIN32_FIND_DATAA found;
        HANDLE h = ::FindFirstFileA((dir_ + "\\*").c_str(), &found);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = found.cFileName;
                if (name == "." || name == "..")
                    continue;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    ::RemoveDirectoryA((dir_ + "\\" + name).c_str());
                else
                    ::DeleteFileA((dir_ + "\\" + name).c_str());
            } while (::FindNextFileA(h, &found));
            ::FindClose(h);
        }
        ::RemoveDirectoryA(dir_.c_str());
    }
    std::string File(const std::string& name) const { return dir_ + "\\" + name; }
    int Count() const
    {
        int n = 0;
        WIN32_FIND_DATAA found;
        HANDLE h = ::FindFirstFileA((dir_ + "\\*").c_str(), &found);
        if (h == INVALID_HANDLE_VALUE)
            return 0;
        do {
            n += std::string(found.cFileName) != "." && std::string(found.cFileName) != "..";
        } while (::FindNextFileA(h, &found));
        ::FindClose(h);
        return n;
    }
    bool ok() const { return !dir_.empty(); }

private:
    std::string dir_;
};

TEST(WinFileIo, WritesAndReadsWholeFilesWhateverTheirNames)
{
    WinTempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string names[] = {
        "plain.cfg",
        "with blanks in it.cfg",
        "\xC5\xE4\xD6\xC3 1.cfg", // GBK bytes (no UTF-8): the system's code page
        "\xE9\x85\x8D\xE7\xBD\xAE 2.cfg", // the same word in UTF-8, as the command line gives it
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::string path = dir.File(name);
        std::string error, read;
        ASSERT_TRUE(WriteFileAtomically(path, "AT\r\nfirst\r\n", &error)) << error;
        ASSERT_EQ(ReadWholeFile(path, read, &error), FileRead::Done) << error;
        EXPECT_EQ(read, "AT\r\nfirst\r\n"); // CR LF kept: the bytes are written as they are
        const std::string bigger(70000, '\x1a'); // no end-of-file mark either
        ASSERT_TRUE(WriteFileAtomically(path, bigger, &error)) << error;
        ASSERT_EQ(ReadWholeFile(path, read, &error), FileRead::Done) << error;
        EXPECT_EQ(read, bigger);
        EXPECT_EQ(ReadWholeFile(path, read, &error, 69999), FileRead::TooLarge);
        EXPECT_TRUE(read.empty());
    }
    EXPECT_EQ(dir.Count(), 4) << "no temporary file is left";
    // A UTF-8 name is read as UTF-8, whatever the system's code page.
    EXPECT_EQ(NativePath("\xE9\x85\x8D\xE7\xBD\xAE").wstring(), L"\u914D\u7F6E");
}

TEST(WinFileIo, FailuresLeaveTheOldFileAndNameThePath)
{
    WinTempDir dir;
    ASSERT_TRUE(dir.ok());
    std::string error, read;
    ASSERT_TRUE(WriteFileAtomically(dir.File("old.cfg"), "old\r\n", &error)) << error;
    ASSERT_TRUE(::CreateDirectoryA(dir.File("folder").c_str(), nullptr));
    const std::string failing[] = {dir.File("missing\\old.cfg"), dir.File("folder"), ""};
    for (const std::string& path : failing) {
        SCOPED_TRACE(path);
        error.clear();
        EXPECT_FALSE(WriteFileAtomically(path, "new", &error));
        EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
        EXPECT_GT(error.size(), path.size() + 2) << "a reason follows the path";
        EXPECT_NE(ReadWholeFile(path, read, &error), FileRead::Done);
        EXPECT_TRUE(read.empty());
    }
    EXPECT_NE(ReadWholeFile(dir.File("folder"), read, &error), FileRead::Done);
    EXPECT_EQ(error, dir.File("folder") + ": " + kNotRegularReason + " (a folder)");
    // A file marked read-only is not replaced, though the folder allows it.
    ASSERT_TRUE(::SetFileAttributesA(dir.File("old.cfg").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(WriteFileAtomically(dir.File("old.cfg"), "new", &error));
    EXPECT_EQ(error, dir.File("old.cfg") + ": " + kReadOnlyReason);
    ASSERT_EQ(ReadWholeFile(dir.File("old.cfg"), read, &error), FileRead::Done);
    EXPECT_EQ(read, "old\r\n");
    EXPECT_EQ(dir.Count(), 2) << "no temporary file is left";
    ::SetFileAttributesA(dir.File("old.cfg").c_str(), FILE_ATTRIBUTE_NORMAL);
}

} // namespace
} // namespace pell
