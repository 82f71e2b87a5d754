// The port and line-setting texts a user types into the combos or gives
// halden: what each becomes agrees with a plain model of it. A port name
// names one device on each platform, or nothing; the baud text's number is
// its leading digits, or 0 when that number is absurd.
#include "fuzz/FuzzCheck.h"
#include "serial/PortSettings.h"
#include "serial/SerialBackend.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

using namespace pell;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The leading decimal number, capped far above anything that fits.
std::uint64_t leadingValue(const std::string& text)
{
    std::uint64_t v = 0;
    for (char c : text) {
        if (!isDigit(c))
            break;
        v = std::min<std::uint64_t>(v * 10 + static_cast<std::uint64_t>(c - '0'), 1ull << 40);
    }
    return v;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);

    const std::string posix = PosixDevicePath(text);
    if (text.empty() || text.find('\0') != std::string::npos)
        FUZZ_CHECK(posix.empty());
    else if (text[0] == '/')
        FUZZ_CHECK(posix == text);
    else
        FUZZ_CHECK(posix == "/dev/" + text);

    // COM1 to COM1024 after any three characters, leading zeros allowed.
    const std::string windows = WindowsDevicePath(text);
    bool digits = text.size() >= 4 && text.size() <= 7;
    for (std::size_t i = 3; digits && i < text.size(); ++i)
        digits = isDigit(text[i]);
    const std::uint64_t n = digits ? leadingValue(text.substr(3)) : 0;
    if (n >= 1 && n <= 1024)
        FUZZ_CHECK(windows == "\\\\.\\COM" + std::to_string(n));
    else
        FUZZ_CHECK(windows.empty());
    FUZZ_CHECK(windows.empty() || WindowsDevicePath("COM" + text.substr(3)) == windows);

    // A rate that would not fit gives 0, which the driver refuses.
    const std::uint64_t baud = leadingValue(text);
    FUZZ_CHECK(LeadingNumber(text) == (baud <= 4294967289ull ? baud : 0));

    const int stop = StopBitsFromText(text);
    FUZZ_CHECK(stop == (text == "1.5" ? 1 : text == "2" ? 2 : 0));
    const int parity = ParityFromText(text);
    const char* const names[] = {"None", "Odd", "Even", "Mark", "Space"};
    FUZZ_CHECK(parity >= 0 && parity <= 4);
    FUZZ_CHECK(parity == 0 ? text != "Odd" && text != "Even" && text != "Mark" && text != "Space"
                           : text == names[parity]);
    return 0;
}
