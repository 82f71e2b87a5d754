#include "cli/FlashView.h"

#include "cli/CliText.h"
#include "download/DownloadTexts.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace pell::cli {

std::string FlashView::BarText(int position, int blocks, const TransferRate& rate)
{
    constexpr int kWidth = 30;
    const int filled = blocks > 0 ? std::min(kWidth, position * kWidth / blocks) : 0;
    const long left = std::lround(std::max(0.0, rate.secondsLeft));
    char text[160];
    std::snprintf(text, sizeof text, "[%s%s]  %d/%d blocks  %.1f KB/s  %ld:%02ld left",
                  std::string(static_cast<std::size_t>(filled), '#').c_str(),
                  std::string(static_cast<std::size_t>(kWidth - filled), '.').c_str(), position, blocks,
                  rate.bytesPerSecond / 1024.0, left / 60, left % 60);
    return text;
}

void FlashView::say(const std::string& text)
{
    std::lock_guard<std::mutex> lock(errMutex_);
    if (barShown_) {
        err_ << "\n";
        barShown_ = false;
    }
    err_ << text << "\n";
    err_.flush();
}

void FlashView::draw(int position)
{
    if (!drawBar_)
        return;
    TransferRate rate;
    {
        std::lock_guard<std::mutex> lock(rateMutex_);
        rate = rate_;
    }
    std::lock_guard<std::mutex> lock(errMutex_);
    err_ << "\r" << BarText(position, range_.load(), rate);
    err_.flush();
    barShown_ = true;
}

void FlashView::EndBar()
{
    std::lock_guard<std::mutex> lock(errMutex_);
    if (barShown_)
        err_ << "\n";
    barShown_ = false;
    err_.flush();
}

void FlashView::LogAppended(const std::string& line, bool)
{
    const bool failedBlock = failedLineNext_.exchange(false);
    if (verbose_ || failedBlock) {
        // Without the time stamp: "<Time:YYYY-MM-DD hh:mm:ss>:".
        const std::size_t start = line.find(">:");
        say(GbkToUtf8(TrimLineBreaks(start == std::string::npos ? line : line.substr(start + 2))) +
            (failedBlock ? "; the image starts again at block 1" : ""));
    }
}

void FlashView::BlockFailed(int, BlockFailure)
{
    restarts_.fetch_add(1);
    failedLineNext_.store(true);
}

void FlashView::DownloadEnded(const DownloadResult& result)
{
    blocks_.store(result.blocks);
    imageBytes_.store(result.imageBytes);
    restarts_.store(static_cast<int>(result.restarts.size()));
    // Last: a caller that sees the success reads the counts above.
    succeeded_.store(result.Succeeded());
    progress_.set();
}

void FlashView::SetProgressRange(int blocks)
{
    range_.store(blocks);
}

void FlashView::SetProgress(int position)
{
    blocks_.store(position);
    draw(position);
}

void FlashView::ShowIdleLook()
{
    progress_.set();
}

void FlashView::ShowThroughput(const TransferRate& rate)
{
    imageBytes_.store(rate.imageLength);
    {
        std::lock_guard<std::mutex> lock(rateMutex_);
        rate_ = rate;
    }
    draw(blocks_.load());
    progress_.set();
}

void FlashView::ClosePowerCyclePrompt()
{
    if (!loaderAnswered_.exchange(true))
        say("the boot loader answered; sending the image");
    progress_.set();
}

void FlashView::ShowPowerCyclePrompt()
{
    say(GbkToUtf8(downloadtext::kPowerCycle) +
        ": switch the controller off and on again now; halden asks its boot loader every 500 ms");
}

void FlashView::MessageBox(const std::string& text, const std::string& caption)
{
    say(GbkToUtf8(caption) + ": " + GbkToUtf8(text));
}

void FlashView::ShowFileError(const std::string& path, int error, const std::string& reason)
{
    say("cannot read the image " + path + ": " + (reason.empty() ? std::string(std::strerror(error)) : reason));
}

} // namespace pell::cli
