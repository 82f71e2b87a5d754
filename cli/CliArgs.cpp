// halden's command line: the options in one table, and the parse of a
// command line from it and from the subcommands' table (CliVerbs.h).
#include "cli/CliArgs.h"

#include "cli/CliVerbs.h"

#include <cstddef>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <type_traits>

namespace pell::cli {

namespace {

bool parseNumber(const std::string& text, long min, long max, long& out)
{
    if (text.empty() || text.size() > 9)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    out = std::strtol(text.c_str(), nullptr, 10);
    return out >= min && out <= max;
}

// "2026-01-04", "2026/1/4" -> "2026/1/4" (the form the records page sends).
bool normaliseDate(const std::string& text, std::string& out)
{
    long parts[3] = {0, 0, 0};
    std::size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        const std::size_t end = i < 2 ? text.find_first_of("-/", start) : text.size();
        if (end == std::string::npos)
            return false;
        if (!parseNumber(text.substr(start, end - start), i == 0 ? 2000 : 1, i == 0 ? 2099 : (i == 1 ? 12 : 31),
                         parts[i]))
            return false;
        start = end + 1;
    }
    out = std::to_string(parts[0]) + "/" + std::to_string(parts[1]) + "/" + std::to_string(parts[2]);
    return true;
}

template <bool CliOptions::*Field>
bool setFlag(CliOptions& o, const std::string&)
{
    o.*Field = true;
    return true;
}

template <std::string CliOptions::*Field>
bool setText(CliOptions& o, const std::string& value)
{
    if (value.empty())
        return false;
    o.*Field = value;
    return true;
}

template <auto Field, long Min, long Max>
bool setNumber(CliOptions& o, const std::string& value)
{
    long number = 0;
    if (!parseNumber(value, Min, Max, number))
        return false;
    o.*Field = static_cast<std::remove_reference_t<decltype(o.*Field)>>(number);
    return true;
}

template <std::string CliOptions::*Field>
bool setDate(CliOptions& o, const std::string& value)
{
    return normaliseDate(value, o.*Field);
}

enum class Takes {
    Nothing,  // a switch: "--name=VALUE" is refused
    Ignored,  // a switch whatever follows its '=' (--help=x still asks for help)
    Value,    // the next argument, or what follows '='
};

struct OptionInfo {
    const char* name;     // as messages name it
    const char* alias;    // another spelling, or null
    Takes takes;
    unsigned takenBy;     // the Extra of the subcommands that take it; kNoExtra: all of them
    const char* refusal;  // what a subcommand that does not take it says
    const char* wants;    // a value: what the message asks for when it is missing or refused
    bool (*store)(CliOptions& o, const std::string& value); // false: the value is refused
};

// Every option. A subcommand given options it does not take names the first
// of them in this order.
const OptionInfo kOptions[] = {
    {"--help", "-h", Takes::Ignored, kNoExtra, nullptr, nullptr, setFlag<&CliOptions::help>},
    {"--port", nullptr, Takes::Value, kNoExtra, nullptr, "a port name", setText<&CliOptions::port>},
    {"--baud", nullptr, Takes::Value, kNoExtra, nullptr, "a line speed from 50 to 4000000",
     setNumber<&CliOptions::baud, 50, 4000000>},
    {"--wait", nullptr, Takes::Value, kNoExtra, nullptr, "seconds from 0 to 86400",
     setNumber<&CliOptions::waitSeconds, 0, 86400>},
    {"--verbose", "-v", Takes::Nothing, kNoExtra, nullptr, nullptr, setFlag<&CliOptions::verbose>},
    {"-o", "--output", Takes::Value, kOutput, "takes no -o", "a file name", setText<&CliOptions::output>},
    {"--partial", nullptr, Takes::Nothing, kPartial, "takes no --partial", nullptr, setFlag<&CliOptions::partial>},
    {"--dry-run", nullptr, Takes::Nothing, kDryRun, "takes no --dry-run", nullptr, setFlag<&CliOptions::dryRun>},
    {"--boot", nullptr, Takes::Nothing, kBoot, "takes no --boot", nullptr, setFlag<&CliOptions::boot>},
    {"--json", nullptr, Takes::Nothing, kJson, "has no --json output", nullptr, setFlag<&CliOptions::json>},
    {"--from", nullptr, Takes::Value, kDates, "takes no --from or --to", "a date YYYY-MM-DD",
     setDate<&CliOptions::from>},
    {"--to", nullptr, Takes::Value, kDates, "takes no --from or --to", "a date YYYY-MM-DD",
     setDate<&CliOptions::to>},
    {"--yes", nullptr, Takes::Nothing, kYes, "takes no --yes", nullptr, setFlag<&CliOptions::yes>},
    {"--system", nullptr, Takes::Nothing, kClock, "takes no --system or --set", nullptr,
     setFlag<&CliOptions::clockSystem>},
    {"--set", nullptr, Takes::Value, kClock, "takes no --system or --set", "\"YYYY/MM/DD hh:mm:ss\"",
     setText<&CliOptions::clockText>},
};

const OptionInfo* findOption(std::string_view name)
{
    for (const OptionInfo& option : kOptions)
        if (name == option.name || (option.alias && name == option.alias))
            return &option;
    return nullptr;
}

// The refusal of the first option given (`given`: their takenBy) among
// those of `extras` that the subcommand does not take; null when none.
const char* refusalOf(const VerbInfo& verb, unsigned given, unsigned extras)
{
    for (const OptionInfo& option : kOptions)
        if ((option.takenBy & given & extras) && !(verb.extras & option.takenBy))
            return option.refusal;
    return nullptr;
}

// Whether an argument starting with '-' is the subcommand's next operand
// rather than an option: a value may be negative.
bool valueMayFollow(const VerbInfo* verb, std::size_t operands)
{
    return verb && (verb->verb == Verb::Set || (verb->extras & kOptionalValue)) && operands == 1;
}

// The subcommand's rules on its options and operands, once all are read:
// why the command line is refused, or nothing (the operands then stored).
std::string checkCommand(const VerbInfo& verb, unsigned given, const std::vector<std::string>& operands,
                         CliOptions& o)
{
    const std::string name = verb.name;
    const std::string usage = std::string("usage: ") + verb.usage;
    // Options it does not take, in the order of kOptions; but a query of
    // records without its days or its file hears its usage before it hears
    // that it takes no --yes, --system or --set.
    if (const char* refusal = refusalOf(verb, given, ~(kYes | kClock)))
        return "'" + name + "' " + refusal;
    if ((verb.extras & kDates) && (o.from.empty() || o.to.empty() || o.output.empty()))
        return usage;
    if (const char* refusal = refusalOf(verb, given, kYes | kClock))
        return "'" + name + "' " + refusal;
    if (o.clockSystem && !o.clockText.empty())
        return "clock takes --system or --set, not both";
    const int count = static_cast<int>(operands.size());
    const bool optional = verb.extras & kOptionalValue;
    if (count != verb.operands && !(optional && count == verb.operands + 1))
        return usage;
    if ((verb.extras & kYes) && !o.yes)
        return "'" + name + "' changes the controller; add --yes";
    switch (o.verb) {
    case Verb::Read:
        if (o.output.empty())
            return "read wants -o FILE";
        break;
    case Verb::Write:
    case Verb::Diff:
    case Verb::Flash:
        o.file = operands[0];
        break;
    case Verb::Get:
        o.target = operands[0];
        break;
    case Verb::Set:
        o.target = operands[0];
        o.value = operands[1];
        break;
    case Verb::Counter:
    case Verb::Meter: {
        long n = 0;
        if (!parseNumber(operands[0], 1, 4, n))
            return name + " wants N from 1 to 4";
        o.index = static_cast<int>(n);
        o.hasValue = count == 2;
        if (o.hasValue)
            o.value = operands[1];
        break;
    }
    default:
        break;
    }
    return {};
}

} // namespace


ParsedArgs ParseArgs(const std::vector<std::string>& args)
{
    ParsedArgs r;
    CliOptions& o = r.options;
    const VerbInfo* verb = nullptr;
    std::vector<std::string> operands;
    unsigned given = 0; // the takenBy of every option given
    auto fail = [&](std::string why) {
        r.ok = false;
        r.error = std::move(why);
        return r;
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        // "--name=VALUE" is the option and its value; "-o=x" is no option.
        std::string arg = args[i];
        std::optional<std::string> inlineValue;
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            if (const auto eq = arg.find('='); eq != std::string::npos) {
                inlineValue = arg.substr(eq + 1);
                arg.resize(eq);
            }
        }
        if (const OptionInfo* option = findOption(arg)) {
            std::string value;
            if (option->takes == Takes::Value) {
                const bool hasValue = inlineValue || i + 1 < args.size();
                if (hasValue)
                    value = inlineValue ? *inlineValue : args[++i];
                if (!hasValue || !option->store(o, value))
                    return fail(std::string(option->name) + " wants " + option->wants);
            } else {
                if (option->takes == Takes::Nothing && inlineValue)
                    return fail(std::string(option->name) + " takes no value");
                option->store(o, value);
            }
            given |= option->takenBy;
        } else if (arg == "--") {
            operands.insert(operands.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            break;
        } else if (arg.size() > 1 && arg[0] == '-' && !valueMayFollow(verb, operands.size())) {
            return fail("unknown option " + args[i]);
        } else if (verb == nullptr) {
            verb = FindVerb(arg);
            if (verb == nullptr)
                return fail("unknown command '" + arg + "' (halden --help lists them)");
        } else {
            operands.push_back(arg);
        }
    }

    if (verb == nullptr) {
        if (o.help) {
            r.ok = true;
            return r;
        }
        return fail("no command given (halden --help lists them)");
    }
    o.verb = verb->verb;
    if (!o.help) {
        if (std::string why = checkCommand(*verb, given, operands, o); !why.empty())
            return fail(std::move(why));
    }
    r.ok = true;
    return r;
}

} // namespace pell::cli

