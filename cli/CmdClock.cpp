// halden clock, counter and meter: the page requests the configuration
// worker takes from the basic settings, counter and serial meter pages.
#include "cli/CliCommands.h"
#include "cli/CliSession.h"
#include "cli/CliText.h"
#include "pages/ClockRequest.h"

#include <cstdio>
#include <optional>
#include <utility>

namespace pell::cli {

namespace {

// "YYYY/MM/DD hh:mm:ss" (month, day and hour may have one digit) naming a
// date of the calendar and a time of the day, and nothing else: the date
// and the time texts, or nothing.
std::optional<std::pair<std::string, std::string>> RealClockText(const std::string& text)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
    if (std::sscanf(text.c_str(), "%4d/%2d/%2d %2d:%2d:%2d%n", &year, &month, &day, &hour, &minute, &second,
                    &used) != 6 ||
        static_cast<std::size_t>(used) != text.size())
        return std::nullopt;
    // Only digits where numbers stand (sscanf would take signs and blanks).
    for (char c : text)
        if (!(c >= '0' && c <= '9') && c != '/' && c != ':' && c != ' ')
            return std::nullopt;
    if (text.find("  ") != std::string::npos || text.front() == ' ')
        return std::nullopt;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (year < 1970 || year > 2099 || month < 1 || month > 12 || day < 1 ||
        day > kDays[month - 1] + (month == 2 && leap ? 1 : 0) || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    const std::size_t blank = text.find(' ');
    return std::make_pair(text.substr(0, blank), text.substr(blank + 1));
}

// A page request (clock, counter, serial meter) taken by the worker.
int request(Session& s, RequestSlot slot, const std::string& text, bool read)
{
    std::ostream& out = s.Out();
    if (int status = s.StartConfig())
        return status;
    ConfigLink& link = s.Link();
    CliConfigView& view = link.view;
    const std::size_t boxesBefore = view.Messages().size();
    const int runsBefore = link.controller.Worker().JobsRun();
    link.requests[static_cast<std::size_t>(slot)].Set(text);
    if (int status = s.AwaitJob(runsBefore))
        return status;
    const JobResult result = link.controller.Worker().LastResult();
    if (read && result.answer)
        out << GbkToUtf8(TrimLineBreaks(*result.answer)) << "\n";
    out.flush();
    s.PrintBoxes(boxesBefore);
    if (result.commands.empty())
        return s.Fail(kExitRefused, "the request was not sent");
    return s.FailFor(result.commands.front());
}

} // namespace

int RunClock(Session& s)
{
    const CliOptions& o = s.Options();
    std::string text = SystemClockRequest(LocalCivilTimeNow());
    if (!o.clockText.empty()) {
        const std::optional<std::pair<std::string, std::string>> parts = RealClockText(o.clockText);
        if (!parts)
            return s.Fail(kExitUsage, "--set wants a real local time \"YYYY/MM/DD hh:mm:ss\" (got \"" +
                                          o.clockText + "\")");
        const std::optional<int> weekday = LocalWeekday(ParsePickedDateTime(parts->first, parts->second));
        if (!weekday)
            return s.Fail(kExitUsage, "--set names a time this computer cannot place: " + o.clockText);
        text = ManualClockRequest(parts->first, parts->second, *weekday);
    }
    return request(s, RequestSlot::Clock, text, false);
}

int RunInitialValue(Session& s)
{
    const CliOptions& o = s.Options();
    const bool counter = o.verb == Verb::Counter;
    const int first = static_cast<int>(counter ? RequestSlot::Counter0 : RequestSlot::Serial0);
    const auto slot = static_cast<RequestSlot>(first + o.index - 1);
    std::string text = "?";
    if (o.hasValue) {
        std::string value;
        if (!Utf8ToGbk(o.value, value) || value.empty())
            return s.Fail(kExitUsage, "the value is no text that code page 936 can carry");
        if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos || value.size() > 98)
            return s.Fail(kExitUsage, "the value must be one line of at most 98 bytes");
        text = "=" + value;
    }
    return request(s, slot, text, !o.hasValue);
}

} // namespace pell::cli
