#pragma once
// How a firmware download ended, as a value: the window turns it into
// nothing more than the log lines it already shows, the command-line tool
// into its exit status and its summary.
#include <cstdint>
#include <vector>

namespace pell {

enum class DownloadEnd {
    Succeeded,       // the boot loader confirmed the last block
    Cancelled,       // reset by the user ("取消") while the line was up
    LineGone,        // reset with the port closed or its device vanished
    // The download never started:
    NoPort,          // no port open
    NoImage,         // no image path given
    ImageUnreadable, // the file could not be opened or read (`fileError`)
    BadLength,       // the file is empty, or 1 MiB or longer
};

// Why a block sent the image back to block 1.
enum class BlockFailure {
    Rejected, // the boot loader answered with something other than 0x05
    NoAnswer, // no answer within the 5000 ms
};

struct BlockRestart {
    int block = 0; // 1-based, in the pass that failed
    BlockFailure kind = BlockFailure::Rejected;
    bool operator==(const BlockRestart&) const = default;
};

struct DownloadResult {
    DownloadEnd end = DownloadEnd::NoPort;
    uint32_t imageBytes = 0;
    int blockCount = 0;     // the image's blocks
    // Blocks the boot loader confirmed in the last pass, block 1 on: all of
    // them after a success, 0 when the last pass failed at its first block
    // or a restart was still waiting for the handshake.
    int blocks = 0;
    bool loaderAnswered = false; // its 'P' came at least once
    std::vector<BlockRestart> restarts; // in order
    int fileError = 0;      // errno, for ImageUnreadable

    bool Succeeded() const { return end == DownloadEnd::Succeeded; }
    bool Started() const
    {
        return end == DownloadEnd::Succeeded || end == DownloadEnd::Cancelled || end == DownloadEnd::LineGone;
    }
};

} // namespace pell
