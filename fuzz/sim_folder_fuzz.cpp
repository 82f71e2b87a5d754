// The simulator folder as the port list finds it: links, lock files (held
// or not, whatever their text) and other files, made in a folder of the
// harness's own from the input. The list holds exactly the links whose lock
// is held and names the link's existing terminal; what belongs to a live
// simulator and every other file stays; dead simulators' links and lock
// files go.
#include "fuzz/FuzzCheck.h"
#include "serial/PortList.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct Folder {
    std::string path;
    Folder()
    {
        char name[] = "/tmp/sim-folder-fuzz-XXXXXX";
        if (!::mkdtemp(name))
            std::abort();
        path = name;
    }
    ~Folder()
    {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    void clear() const
    {
        std::vector<fs::path> entries;
        for (const auto& e : fs::directory_iterator(path))
            entries.push_back(e.path());
        for (const auto& e : entries)
            fs::remove(e);
    }
};

struct Entry {
    bool link = false;
    std::string text; // a link's target, a file's contents
    int heldFd = -1;  // a lock file that a live simulator holds
};

struct Input {
    const uint8_t* data;
    size_t size, at = 0;
    bool more() const { return at < size; }
    uint8_t byte() { return at < size ? data[at++] : 0; }
    std::string bytes(size_t n)
    {
        std::string s;
        while (n-- > 0 && at < size)
            s += static_cast<char>(data[at++]);
        return s;
    }
};

bool isLockName(const std::string& name)
{
    return name.size() > 5 && name.compare(name.size() - 5, 5, ".lock") == 0;
}

// What a lock text names: its first complete line, a full path.
std::string firstLine(const std::string& text)
{
    const std::size_t eol = text.find('\n');
    if (eol == std::string::npos || eol == 0 || text[0] != '/' || text.find('\0') < eol)
        return {};
    return text.substr(0, eol);
}

bool present(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const Folder folder;
    folder.clear();
    const std::string raw(reinterpret_cast<const char*>(data), size);
    const std::string locked = pell::LockedTerminal(raw);
    FUZZ_CHECK(locked == firstLine(raw));

    std::map<std::string, Entry> model;
    auto make = [&](const std::string& name, bool link, const std::string& text, bool held) {
        const std::string path = folder.path + "/" + name;
        if (auto old = model.find(name); old != model.end()) {
            if (old->second.heldFd >= 0)
                ::close(old->second.heldFd);
            ::unlink(path.c_str());
            model.erase(old);
        }
        Entry e{link, text, -1};
        if (link) {
            FUZZ_CHECK(::symlink(text.c_str(), path.c_str()) == 0);
        } else {
            int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            FUZZ_CHECK(fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()));
            if (held && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
                e.heldFd = fd;
            else
                ::close(fd);
        }
        model[name] = e;
    };
    Input in{data, size};
    for (int record = 0; record < 16 && in.more(); ++record) {
        const uint8_t op = in.byte();
        std::string name = in.bytes(in.byte() % 12 + 1);
        if (name.empty())
            break; // the input ended
        for (char& c : name)
            if (c == '/' || c == '\0')
                c = '_';
        if (name == "." || name == "..")
            name += "_";
        std::string target;
        switch ((op >> 3) & 3) {
        case 0: target = "/dev/null"; break;
        case 1: target = folder.path; break;
        case 2: target = "/nonexistent/pts/7"; break;
        default:
            target = in.bytes(in.byte() % 24);
            for (char& c : target)
                if (c == '\0')
                    c = '_';
            if (target.empty())
                target = "x";
        }
        const bool held = op & 4;
        switch (op & 3) {
        case 0: make(name, true, target, false); break;
        case 1: make(name, false, in.bytes(in.byte() % 48), held); break;
        case 2: make(name, false, "x", false); break;
        default: // a simulator: its link and the lock file naming its terminal
            make(name, true, target, false);
            if (!isLockName(name))
                make(name + ".lock", false, target + "\n", held);
        }
    }

    // A link is live when its lock file is held and names where it leads.
    auto liveLock = [&](const std::string& link) {
        auto lock = model.find(link + ".lock");
        return lock != model.end() && !lock->second.link && lock->second.heldFd >= 0 ? &lock->second
                                                                                     : nullptr;
    };
    std::set<std::string> expected;
    for (const auto& [name, e] : model) {
        if (name[0] == '.' || isLockName(name) || !e.link)
            continue;
        struct stat st {};
        const Entry* lock = liveLock(name);
        if (lock && firstLine(lock->text) == e.text && ::stat(e.text.c_str(), &st) == 0)
            expected.insert(folder.path + "/" + name);
    }
    const std::vector<std::string> listed = pell::ListSerialPorts("/nonexistent/sys", folder.path);
    FUZZ_CHECK(std::set<std::string>(listed.begin(), listed.end()) == expected);
    FUZZ_CHECK(listed.size() == expected.size());

    for (const auto& [name, e] : model) {
        const bool there = present(folder.path + "/" + name);
        if (name[0] == '.' || e.heldFd >= 0 || (!e.link && !isLockName(name)))
            FUZZ_CHECK(there); // hidden, held, or no simulator's file at all
        else if (e.link && !isLockName(name)) {
            // Gone with its dead simulator; kept when its lock is live or is
            // no lock file (a link there: nobody can tell).
            auto lock = model.find(name + ".lock");
            FUZZ_CHECK(there == (liveLock(name) != nullptr || (lock != model.end() && lock->second.link)));
        }
        else if (!e.link && !present(folder.path + "/" + name.substr(0, name.size() - 5)))
            FUZZ_CHECK(!there); // a dead simulator's lock without its link
    }
    for (auto& [name, e] : model)
        if (e.heldFd >= 0)
            ::close(e.heldFd);
    return 0;
}
