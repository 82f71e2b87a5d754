#include "cli/ConfigFileIo.h"

#include "config/ReportParser.h"
#include "protocol/CommandTable.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pell::cli {

namespace {

std::string reason(const std::string& path, int error)
{
    return path + ": " + std::strerror(error);
}

std::string cutAtLineBreak(std::string value)
{
    const std::size_t end = value.find_first_of("\r\n");
    if (end != std::string::npos)
        value.resize(end);
    return value;
}

// Every row's value, in table order.
std::vector<std::string> snapshot()
{
    std::vector<std::string> values;
    for (int row = 0; row < ParamRowCount(); ++row) {
        std::string v;
        GetParamValue(ParamRowId(row), v);
        values.push_back(std::move(v));
    }
    return values;
}

void restore(const std::vector<std::string>& values)
{
    for (int row = 0; row < ParamRowCount(); ++row)
        SetParamValue(ParamRowId(row), values[static_cast<std::size_t>(row)]);
}

void fill(std::string_view marker)
{
    for (int row = 0; row < ParamRowCount(); ++row)
        SetParamValue(ParamRowId(row), marker);
}

} // namespace

std::string ConfigFileText()
{
    std::string text;
    for (int row = 0; row < ParamRowCount(); ++row) {
        const int id = ParamRowId(row);
        if (id == kEndRowId)
            continue;
        std::string value;
        GetParamValue(id, value);
        const std::string line = std::string(ParamRowLabel(row)) + "  " + cutAtLineBreak(value) + "\r\n";
        if (text.size() + line.size() + 1 >= kConfigFileLimit)
            break;
        text += line;
    }
    return text;
}

bool WriteFileWhole(const std::string& path, const std::string& bytes, std::string& why)
{
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        why = reason(path, errno);
        return false;
    }
    // The new file gets the permissions a plain create would give it.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    std::size_t done = 0;
    int error = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        why = reason(path, error);
        return false;
    }
    return true;
}

bool ReadConfigFile(const std::string& path, std::string& bytes, FileValues& values, std::string& why)
{
    bytes.clear();
    values.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        why = reason(path, errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = errno;
        ::close(fd);
        why = S_ISREG(st.st_mode) ? reason(path, error) : path + ": not a plain file";
        return false;
    }
    if (st.st_size <= 0 || static_cast<std::size_t>(st.st_size) >= kConfigFileLimit) {
        ::close(fd);
        why = path + ": a configuration file holds 1 to " + std::to_string(kConfigFileLimit - 1) +
              " bytes, this one " + std::to_string(st.st_size);
        return false;
    }
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : 0;
            ::close(fd);
            why = error != 0 ? reason(path, error) : path + ": the file shrank while it was read";
            bytes.clear();
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    // An editor may have put a UTF-8 byte-order mark in front.
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        bytes.erase(0, 3);
    const std::string_view text(bytes);

    // The report parser writes into the parameter table. Parsed once over a
    // table of one marker and once over another, a row the file names holds
    // the same value both times, a row it does not name keeps each marker.
    const std::vector<std::string> kept = snapshot();
    static constexpr std::string_view kMarkers[2] = {"\x01unnamed\x01", "\x02unnamed\x02"};
    std::vector<std::string> seen[2];
    for (int pass = 0; pass < 2; ++pass) {
        fill(kMarkers[pass]);
        ParseReportText(text.data(), text.size());
        seen[pass] = snapshot();
    }
    restore(kept);
    for (int row = 0; row < ParamRowCount(); ++row) {
        const auto r = static_cast<std::size_t>(row);
        if (seen[0][r] == seen[1][r] && ParamRowId(row) != kEndRowId)
            values[ParamRowId(row)] = seen[0][r];
    }
    if (values.empty()) {
        why = path + ": no line names a parameter (\"label  value\" with CR LF)";
        return false;
    }
    return true;
}

} // namespace pell::cli
