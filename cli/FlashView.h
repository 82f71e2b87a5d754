#pragma once
// The download page of the command-line tool: the download session's view
// on a terminal. The power-cycle prompt and the log's news go to stderr; the
// progress bar (blocks, bytes/s, time left) is redrawn there after every
// accepted block. Success, blocks and restarts come from the session's
// typed notifications, never from the log's texts.
#include "common/Clock.h"
#include "download/DownloadSession.h"

#include <atomic>
#include <mutex>
#include <ostream>

namespace pell::cli {

class FlashView : public IDownloadView {
public:
    // `err` is shared with the caller under `errMutex`.
    FlashView(std::ostream& err, std::mutex& errMutex, bool drawBar, bool verbose)
        : err_(err), errMutex_(errMutex), drawBar_(drawBar), verbose_(verbose)
    {
    }

    void LogAppended(const std::string& line, bool emptiedFirst) override;
    void LogCleared() override {}
    void SetProgressRange(int blocks) override;
    void SetProgress(int position) override;
    void ShowActiveLook() override {}
    void ShowIdleLook() override;
    void ShowThroughput(const TransferRate& rate) override;
    void ClosePowerCyclePrompt() override;
    void BlockFailed(int block, BlockFailure kind) override;
    void DownloadEnded(const DownloadResult& result) override;
    void ShowPowerCyclePrompt() override;
    void MessageBox(const std::string& text, const std::string& caption) override;
    void ShowFileError(const std::string& path, int error, const std::string& reason) override;

    // Set on every accepted block, on the boot loader's answer and at the end.
    Event& Progress() { return progress_; }
    // The boot loader confirmed the last block.
    bool Succeeded() const { return succeeded_.load(); }
    bool LoaderAnswered() const { return loaderAnswered_.load(); }
    // Blocks confirmed in the pass under way; once ended, in the last pass.
    int Blocks() const { return blocks_.load(); }
    uint32_t ImageBytes() const { return imageBytes_.load(); }
    // Passes that ended in a rejected or unanswered block.
    int Restarts() const { return restarts_.load(); }
    // Ends the bar's line.
    void EndBar();

    // "[#####.....]  3/8 blocks  12.0 KB/s  0:05 left"
    static std::string BarText(int position, int blocks, const TransferRate& rate);

private:
    void say(const std::string& text);
    void draw(int position);

    std::ostream& err_;
    std::mutex& errMutex_;
    const bool drawBar_;
    const bool verbose_;
    Event progress_;
    std::atomic<bool> succeeded_{false};
    std::atomic<bool> loaderAnswered_{false};
    std::atomic<int> blocks_{0};
    std::atomic<int> range_{0};
    std::atomic<int> restarts_{0};
    // BlockFailed came: the block's log line, next, carries the note.
    std::atomic<bool> failedLineNext_{false};
    std::atomic<uint32_t> imageBytes_{0};
    std::mutex rateMutex_;
    TransferRate rate_;
    bool barShown_ = false; // under errMutex_
};

} // namespace pell::cli
