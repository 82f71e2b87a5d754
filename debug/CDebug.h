#pragma once
// The debug terminal page (template 135, "调试工具"): the received bytes as
// text or hex, the counts "S:%d" and "R:%d", sending once or on timer 151,
// the receive switch, clearing and saving, and the answer table.
//
// The terminal itself is DebugTerminal; this page moves texts between it
// and the controls. The display is refreshed at most about 30 times a
// second, with at most one refresh waiting, and only the new bytes are
// appended unless the store started a new generation.
#include "debug/DebugTerminal.h"
#include "ui/DialogPage.h"
#include "ui/Gbk.h"
#include "ui/PageHooks.h"
#include "serial/CSerial.h"

#include <QElapsedTimer>
#include <QTimer>

#include <functional>
#include <memory>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace pell::ui {

class CDebug : public DialogPage, public TerminalPageHooks, private ITerminalView {
    Q_OBJECT
public:
    // Refreshes of the display at most this often (about 30 a second).
    static constexpr int kRefreshPeriodMs = 33;

    CDebug(QWidget* parent, CSerial& port);
    // Any port that carries the terminal's bytes.
    CDebug(QWidget* parent, ITerminalPort& port);
    ~CDebug() override;

    // TerminalPageHooks (main window).
    void InitTerminal() override;
    void StopTerminal() override { terminal_.Stop(); }
    bool IsReceiving() const override { return terminal_.IsReceiving(); }
    void ToggleReceive() override;
    ITerminalReceiver* TerminalReceiver() override { return &terminal_; }
    void SetLineCheck(std::function<bool()> check) override { terminal_.SetLineCheck(std::move(check)); }
    void SetNavigationSwitch(std::function<void(bool)> sw) override
    {
        terminal_.SetNavigationSwitch(std::move(sw));
    }

    // Handlers of the controls.
    void OnBnClickedToggleReceive() { ToggleReceive(); }
    void OnBnClickedSaveLog();
    void OnBnClickedClearLog();
    void OnBnClickedHexDisplay();
    void OnBnClickedTimedSend();
    void OnEnChangeInterval();
    void OnBnClickedHexSend();
    void OnBnClickedSend();
    void OnEnChangeSendText();
    void OnBnClickedLoadAnswers();
    void OnBnClickedAutoAnswer();
    void OnTimer();
    // Message 0x497: the display and the receive count.
    void OnReceiveUpdate();

    void ShowSentCount(int count);
    void ShowReceiveCount();

    DebugTerminal& Terminal() { return terminal_; }
    bool SendTimerActive() const { return sendTimer_.isActive(); }
    // Display refreshes so far.
    uint64_t Refreshes() const { return refreshes_; }
    // File dialogs; tests replace them. Empty text: cancelled.
    void SetOpenChooser(std::function<QString(QWidget*)> chooser) { openChooser_ = std::move(chooser); }
    void SetSaveChooser(std::function<QString(QWidget*)> chooser) { saveChooser_ = std::move(chooser); }

private:
    // ITerminalView (dispatch and sender threads).
    void RefreshWanted() override;
    void SentCountChanged(int count) override;

    CDebug(QWidget* parent, std::unique_ptr<ITerminalPort> ownPort);
    void wire();
    void scheduleRefresh();
    void showParseResult(HexParse result);
    void putSendText(const QString& text);

    std::unique_ptr<ITerminalPort> ownPort_;
    DebugTerminal terminal_;
    DisplayCursor cursor_;
    GbkStreamDecoder decoder_;
    QTimer refreshTimer_;
    QTimer sendTimer_; // timer 151
    QElapsedTimer sinceRefresh_;
    uint64_t refreshes_ = 0;
    bool tickBoxOpen_ = false;

    QPlainTextEdit* display_ = nullptr;
    QPushButton* receiveButton_ = nullptr;
    QCheckBox* hexDisplay_ = nullptr;
    QCheckBox* timedSend_ = nullptr;
    QLineEdit* interval_ = nullptr;
    QCheckBox* hexSend_ = nullptr;
    QCheckBox* sendNewline_ = nullptr;
    QCheckBox* autoAnswer_ = nullptr;
    QLineEdit* sendText_ = nullptr;
    QLineEdit* sentCount_ = nullptr;
    QLineEdit* receiveCount_ = nullptr;
    QLineEdit* answerPath_ = nullptr;
    std::function<QString(QWidget*)> openChooser_;
    std::function<QString(QWidget*)> saveChooser_;
};

} // namespace pell::ui
