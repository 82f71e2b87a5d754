#include "serial/SerialBackend.h"

#include <cctype>

namespace pell {

// Both platforms' names are here, so either platform's tests check both.
std::string PosixDevicePath(const std::string& portText)
{
    if (portText.empty() || portText.find('\0') != std::string::npos)
        return {};
    if (portText[0] == '/')
        return portText;
    return "/dev/" + portText;
}

std::string WindowsDevicePath(const std::string& portText)
{
    // The port number is the decimal number after the first three characters
    // ("COM7" gives 7); it must lie between 1 and 1024.
    if (portText.size() < 4 || portText.size() > 7)
        return {};
    long n = 0;
    for (std::size_t i = 3; i < portText.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(portText[i])))
            return {};
        n = n * 10 + (portText[i] - '0');
    }
    if (n < 1 || n > 1024)
        return {};
    return "\\\\.\\COM" + std::to_string(n);
}

} // namespace pell
