#include "serial/PortSettings.h"

#include <cctype>
#include <limits>

namespace pell {

unsigned long LeadingNumber(const std::string& text)
{
    unsigned long v = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            break;
        if (v > (std::numeric_limits<unsigned>::max() - 9) / 10)
            return 0; // absurd value: the driver would refuse it anyway
        v = v * 10 + static_cast<unsigned long>(c - '0');
    }
    return v;
}

int StopBitsFromText(const std::string& text)
{
    if (text == "1.5")
        return 1;
    if (text == "2")
        return 2;
    return 0;
}

int ParityFromText(const std::string& text)
{
    if (text == "Odd")
        return 1;
    if (text == "Even")
        return 2;
    if (text == "Mark")
        return 3;
    if (text == "Space")
        return 4;
    return 0;
}

} // namespace pell
