// The download's state machine on arbitrary boot-loader output, ticks,
// writes finished in any order, cancels and restarts: it never crashes and
// keeps its promises. A handshake byte is asked for only in a handshake
// state and never after the 0x06 of the same pass; blocks are asked for in
// image order, whole, inside the image; the offset never passes the image;
// a deadline never lies in the past once the machine has handled it; and
// "download success ok" comes only after every block of the pass was
// accepted in order.
#include "download/DownloadProtocol.h"
#include "download/DownloadTexts.h"
#include "fuzz/FuzzCheck.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <deque>
#include <string>

namespace {

using pell::DownloadAction;
using pell::DownloadProtocol;
using pell::DownloadState;
using Kind = DownloadAction::Kind;

struct Checker {
    DownloadProtocol m;
    int64_t now = 0;
    std::deque<DownloadAction> writes; // asked for, not yet written
    uint32_t goPass = UINT32_MAX;      // pass whose 0x06 was asked for
    uint32_t nextOffset = 0;           // the block the pass asks for next
    uint32_t passOf = UINT32_MAX;      // the pass nextOffset belongs to

    void take(const pell::DownloadActions& actions, DownloadState before)
    {
        for (const auto& a : actions) {
            switch (a.kind) {
            case Kind::Write:
                if (a.byte == pell::kTransferGo) {
                    FUZZ_CHECK(before == DownloadState::LoaderHandshake);
                    goPass = a.pass;
                } else {
                    FUZZ_CHECK(a.byte == pell::kBootHandshake || a.byte == pell::kLoaderHandshake);
                    FUZZ_CHECK(before == DownloadState::BootBanner ||
                               before == DownloadState::LoaderHandshake);
                    FUZZ_CHECK(a.pass != goPass);
                }
                writes.push_back(a);
                break;
            case Kind::SendBlock:
                FUZZ_CHECK(a.offset < m.ImageLength());
                FUZZ_CHECK(a.length > 0 && a.length <= static_cast<uint32_t>(pell::kBlockSize));
                FUZZ_CHECK(a.offset + a.length <= m.ImageLength());
                if (a.pass != passOf) {
                    FUZZ_CHECK(a.offset == 0); // every pass starts at block 1
                    passOf = a.pass;
                } else {
                    FUZZ_CHECK(a.offset == nextOffset);
                }
                nextOffset = a.offset + a.length;
                writes.push_back(a);
                break;
            case Kind::Log:
                if (a.text == pell::downloadtext::kLogSuccess) {
                    FUZZ_CHECK(m.State() == DownloadState::Done);
                    FUZZ_CHECK(m.SentOffset() == m.ImageLength());
                    FUZZ_CHECK(passOf == m.Pass() && nextOffset == m.ImageLength());
                }
                break;
            default:
                break;
            }
        }
        FUZZ_CHECK(m.Active() == (m.State() != DownloadState::Idle));
        FUZZ_CHECK(m.SentOffset() <= m.ImageLength());
        FUZZ_CHECK(m.ImageLength() < pell::kImageCapacity);
        FUZZ_CHECK(m.ReplyText().size() <= static_cast<size_t>(pell::ReplyWindow::kCapacity));
        if (!m.Active())
            FUZZ_CHECK(m.NextDeadline() == DownloadProtocol::kNever);
    }
    void step(pell::DownloadActions actions, DownloadState before) { take(actions, before); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    Checker c;
    int steps = 0;
    while (in.remaining_bytes() > 0 && ++steps < 4000) {
        const uint8_t op = in.ConsumeIntegral<uint8_t>();
        const DownloadState before = c.m.State();
        if (op < 16) {
            const uint32_t length = in.ConsumeIntegralInRange<uint32_t>(0, 40000);
            c.step(c.m.Start(length, op & 1, c.now), before);
        } else if (op < 24) {
            c.step(c.m.Cancel(), before);
            c.writes.clear();
        } else if (op < 120) {
            // The boot loader's output; the answers the machine waits for
            // are made likely.
            std::string chunk;
            switch (op % 4) {
            case 0: chunk = "P"; break;
            case 1: chunk = "\x05"; break;
            case 2: chunk = in.ConsumeBytesAsString(in.ConsumeIntegralInRange<size_t>(0, 16)); break;
            default: chunk = in.ConsumeBytesAsString(in.ConsumeIntegralInRange<size_t>(0, 300)); break;
            }
            c.step(c.m.OnBytes(chunk, c.now), before);
        } else if (op < 170) {
            c.now += in.ConsumeIntegralInRange<int>(0, 6000);
            c.step(c.m.OnTick(c.now), before);
            // Everything due by now has been handled.
            FUZZ_CHECK(c.m.NextDeadline() > c.now);
        } else if (!c.writes.empty()) {
            // The oldest write (or, rarely, a later one) has gone out.
            size_t at = op < 250 ? 0 : in.ConsumeIntegralInRange<size_t>(0, c.writes.size() - 1);
            DownloadAction w = c.writes[at];
            c.writes.erase(c.writes.begin() + static_cast<long>(at));
            c.step(c.m.OnWritten(w, c.now), before);
        }
    }
    return 0;
}
