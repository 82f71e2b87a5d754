#pragma once
// A download page without a window: records what the session asks of it.
#include "download/DownloadSession.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace pell::test {

// UTF-8 text as the system's GBK bytes (iconv), so the tests name the
// page's texts the way a reader sees them.
std::string Gbk(const std::string& utf8);

class FakeDownloadView : public IDownloadView {
public:
    struct Box {
        std::string text, caption;
    };

    void LogAppended(const std::string& line, bool emptiedFirst) override;
    void LogCleared() override;
    void SetProgressRange(int blocks) override;
    void SetProgress(int position) override;
    void ShowActiveLook() override;
    void ShowIdleLook() override;
    void ShowThroughput(const TransferRate& rate) override;
    void ClosePowerCyclePrompt() override;
    void ShowPowerCyclePrompt() override;
    void MessageBox(const std::string& text, const std::string& caption) override;
    void ShowFileError(const std::string& path, int error, const std::string& reason) override;
    void BlockFailed(int block, BlockFailure kind) override;
    void DownloadEnded(const DownloadResult& result) override;

    // What the page shows of its log (built from the calls above).
    std::string Log() const;
    // Log messages without their time stamps, in order.
    std::vector<std::string> Messages() const;
    std::vector<Box> Boxes() const;
    std::vector<int> ProgressHistory() const;
    bool HasMessage(const std::string& message) const;
    int CountMessage(const std::string& message) const;
    TransferRate LastRate() const;
    // BlockFailed and DownloadEnded, in order.
    std::vector<BlockRestart> Failures() const;
    std::vector<DownloadResult> Results() const;

    std::atomic<int> progressRange{-1};
    std::atomic<int> progress{0};
    std::atomic<bool> activeLook{false};
    std::atomic<int> idleLooks{0};
    std::atomic<int> activeLooks{0};
    std::atomic<int> promptsShown{0};
    std::atomic<int> promptsClosed{0};
    std::atomic<int> rates{0};
    std::atomic<int> fileErrors{0};
    std::atomic<int> lastFileError{0};
    std::string lastFileReason; // under FileReason()'s lock
    std::string FileReason() const;
    // Run inside ShowPowerCyclePrompt (the page's modal prompt), if set.
    std::function<void()> onPrompt;

private:
    mutable std::mutex m_;
    std::string log_;
    std::vector<std::string> messages_;
    std::vector<Box> boxes_;
    std::vector<int> progressHistory_;
    TransferRate lastRate_;
    std::vector<BlockRestart> failures_;
    std::vector<DownloadResult> results_;
};

} // namespace pell::test
