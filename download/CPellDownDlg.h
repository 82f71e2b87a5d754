#pragma once
// The firmware download page (template 129): program type, image file,
// download/cancel, the log and the progress bar, plus the transfer rate and
// the time left next to the bar while blocks go out.
//
// The protocol lives in DownloadSession; this page is its view. The session
// calls the view from its worker and the receive dispatch thread:
// every such call is queued to the UI thread, in order, and never waited
// for. Only the start's message boxes and the power-cycle prompt run
// directly, on the UI thread that pressed the button.
#include "ui/DialogPage.h"
#include "ui/LogView.h"
#include "ui/PageHooks.h"
#include "download/DownloadSession.h"

#include <QPointer>

#include <atomic>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QProgressBar;
class QPushButton;

namespace pell::ui {

class CPellDownDlg : public DialogPage, public DownloadPageHooks, private IDownloadView {
    Q_OBJECT
public:
    CPellDownDlg(QWidget* parent, CSerial& port, const Clock& clock);
    ~CPellDownDlg() override;

    // DownloadPageHooks (main window).
    void InitDownloadPage() override;
    void StopDownloadPage() override;
    bool IsDownloadActive() const override { return session_.IsDownloadActive(); }
    void ToggleDownload() override;
    IDownloadReceiver* DownloadReceiver() override { return &session_; }
    bool HoldsLine() const override { return session_.HoldsLine(); }
    void SetLineCheck(std::function<bool()> configHoldsLine) override
    {
        configHoldsLine_ = std::move(configHoldsLine);
    }

    // Buttons 1014, 1015, 1018.
    void OnBnClickedLoad();
    void OnBnClickedDownload();
    void OnBnClickedClearLog();

    DownloadSession& Session() { return session_; }
    QLabel* RateLabel() const { return rateLabel_; }
    // The open-file dialog of "加载"; tests replace it. Returns the chosen
    // path, or an empty text when cancelled.
    void SetFileChooser(std::function<QString(QWidget*)> chooser) { chooser_ = std::move(chooser); }
    // True while the power-cycle prompt is open.
    bool IsPromptOpen() const { return !prompt_.isNull(); }

    // "12.3 KB/s  剩余 0:42": the rate label's text for a rate.
    static QString RateText(const TransferRate& rate);

private:
    // IDownloadView
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

    void post(std::function<void()> fn);
    std::string imagePath() const;
    std::string programType() const;
    void setInputsEnabled(bool enabled);

    QComboBox* typeCombo_ = nullptr;
    QLineEdit* pathEdit_ = nullptr;
    QPushButton* loadButton_ = nullptr;
    QPushButton* downloadButton_ = nullptr;
    QPushButton* clearButton_ = nullptr;
    QProgressBar* progress_ = nullptr;
    LogView log_{nullptr};
    QLabel* typeLabel_ = nullptr;
    QLabel* rateLabel_ = nullptr;
    QPointer<QMessageBox> prompt_;
    std::function<QString(QWidget*)> chooser_;
    // Whether the configuration page holds the line (UI thread only).
    std::function<bool()> configHoldsLine_;
    // Last: its threads are joined before the widgets go.
    DownloadSession session_;
};

} // namespace pell::ui
