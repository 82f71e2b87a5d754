// The command engine's reply recognition on arbitrary received bytes in
// arbitrary chunks. After every chunk the engine's text and result must be
// those of a plain search of the whole text received since the command was
// sent (with the engine's overflow rule: the last 100 bytes stay in front of
// a chunk that does not fit).
//
// Input: one byte picks the pending command, then a list of operations:
// a literal chunk, a repeated piece, a long run of filler (to reach the
// overflow), a chunk appended without checking, an emptied reply, or a new
// command.
#include "fuzz/FuzzCheck.h"
#include "protocol/CommandEngine.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using pell::AtCommandRow;
using pell::CommandEngine;

// Everything received since the command was sent, searched whole.
struct WholeBufferSearch {
    std::string text;
    int result = 0;
    const AtCommandRow* row = nullptr;

    void arm(const AtCommandRow* r)
    {
        text.clear();
        result = 0;
        row = r;
    }
    void append(std::string chunk)
    {
        std::replace(chunk.begin(), chunk.end(), '\0', ' ');
        const std::size_t max = CommandEngine::kReplyTextMax;
        if (text.size() + chunk.size() <= max) {
            text += chunk;
            return;
        }
        std::size_t keep = std::min<std::size_t>(text.size(), CommandEngine::kCarryOverBytes);
        if (chunk.size() >= max) {
            chunk = chunk.substr(chunk.size() - max);
            keep = 0;
        } else if (keep + chunk.size() > max) {
            keep = max - chunk.size();
        }
        text = text.substr(text.size() - keep) + chunk;
    }
    void check()
    {
        if (row->okReply != nullptr && text.find(row->okReply) != std::string::npos)
            result = pell::kReplyOk;
        if (row->errorReply != nullptr && text.find(row->errorReply) != std::string::npos)
            result = pell::kReplyError;
    }
};

std::vector<const AtCommandRow*> commandRows()
{
    std::vector<const AtCommandRow*> rows;
    for (const AtCommandRow& row : pell::AtCommandRows())
        if (row.command != nullptr && row.command[0] != '\0')
            rows.push_back(&row);
    return rows;
}

// A port that is never opened: SendCommand prepares the engine for the
// reply and returns at once without waiting.
pell::CSerial& closedPort()
{
    static pell::CSerial port;
    return port;
}

CommandEngine& engine()
{
    static CommandEngine e(closedPort(), pell::systemClock());
    return e;
}

void arm(WholeBufferSearch& ref, const AtCommandRow* row)
{
    std::string text;
    FUZZ_CHECK(engine().SendCommand(row->id, text) == 0);
    FUZZ_CHECK(engine().PendingId() == row->id);
    FUZZ_CHECK(engine().ReplyResult() == pell::kReplyNone);
    FUZZ_CHECK(engine().ReplyLength() == 0);
    ref.arm(row);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static const std::vector<const AtCommandRow*> rows = commandRows();
    FuzzedDataProvider in(data, size);
    WholeBufferSearch ref;
    arm(ref, rows[in.ConsumeIntegral<uint8_t>() % rows.size()]);

    while (in.remaining_bytes() > 0) {
        const uint8_t op = in.ConsumeIntegral<uint8_t>();
        std::string chunk;
        bool checked = true;
        if (op < 192) {
            chunk = in.ConsumeBytesAsString(op % 48);
        } else if (op < 224) {
            std::string piece = in.ConsumeBytesAsString(1 + op % 12);
            const int times = in.ConsumeIntegralInRange<int>(1, 8000);
            for (int i = 0; i < times && chunk.size() < 100000; ++i)
                chunk += piece;
        } else if (op < 240) {
            const char filler = static_cast<char>(in.ConsumeIntegral<uint8_t>());
            chunk.assign(in.ConsumeIntegralInRange<std::size_t>(1, 90000), filler);
        } else if (op < 248) {
            chunk = in.ConsumeBytesAsString(op % 8 * 4);
            checked = false;
        } else if (op < 252) {
            engine().ResetReply();
            ref.text.clear();
            FUZZ_CHECK(engine().ReplyLength() == 0);
            continue;
        } else {
            arm(ref, rows[in.ConsumeIntegral<uint8_t>() % rows.size()]);
            continue;
        }

        if (checked)
            engine().OnCommandData(static_cast<int>(chunk.size()), chunk.data());
        else
            engine().AppendReply(static_cast<int>(chunk.size()), chunk.data());
        if (!chunk.empty()) {
            ref.append(chunk);
            if (checked)
                ref.check();
        }
        FUZZ_CHECK(engine().ReplyLength() == static_cast<int>(ref.text.size()));
        FUZZ_CHECK(engine().ReplyResult() == ref.result);
        if (ref.text.size() < 4096 || in.remaining_bytes() == 0)
            FUZZ_CHECK(engine().GetReplyText() == ref.text);
    }
    FUZZ_CHECK(engine().GetReplyText() == ref.text);
    return 0;
}
