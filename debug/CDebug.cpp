#include "debug/CDebug.h"

#include "common/FileIo.h"
#include "debug/AnswerTable.h"
#include "debug/TerminalTexts.h"
#include "ui/Gbk.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>

#include <algorithm>

namespace pell::ui {

namespace {

constexpr int kReceiveEdit = 1067;
constexpr int kReceiveButton = 1068;
constexpr int kSaveButton = 1069;
constexpr int kClearButton = 1070;
constexpr int kHexDisplay = 1071;
constexpr int kTimedSend = 1072;
constexpr int kInterval = 1073;
constexpr int kHexSend = 1074;
constexpr int kSendNewline = 1075;
constexpr int kSendButton = 1076;
constexpr int kLoadButton = 1077;
constexpr int kSentCount = 1078;
constexpr int kReceiveCount = 1079;
constexpr int kAutoAnswer = 1080;
constexpr int kSendText = 1028;
constexpr int kAnswerPath = 1029;

// Problems of an answer table are listed up to this many lines.
constexpr std::size_t kProblemLinesShown = 20;

void note(QWidget* parent, const std::string& text)
{
    ShowMessage(parent, text, terminaltext::kNoteCaption);
}

} // namespace

CDebug::CDebug(QWidget* parent, CSerial& port)
    : CDebug(parent, std::make_unique<SerialTerminalPort>(port))
{
}

CDebug::CDebug(QWidget* parent, std::unique_ptr<ITerminalPort> ownPort)
    : DialogPage(135, parent), ownPort_(std::move(ownPort)), terminal_(*ownPort_)
{
    wire();
}

CDebug::CDebug(QWidget* parent, ITerminalPort& port)
    : DialogPage(135, parent), terminal_(port)
{
    wire();
}

CDebug::~CDebug()
{
    // The sender goes before the widgets; nothing calls in any more.
    terminal_.SetView(nullptr);
    terminal_.Stop();
}

void CDebug::wire()
{
    display_ = ControlAs<QPlainTextEdit>(kReceiveEdit);
    receiveButton_ = ControlAs<QPushButton>(kReceiveButton);
    hexDisplay_ = ControlAs<QCheckBox>(kHexDisplay);
    timedSend_ = ControlAs<QCheckBox>(kTimedSend);
    interval_ = ControlAs<QLineEdit>(kInterval);
    hexSend_ = ControlAs<QCheckBox>(kHexSend);
    sendNewline_ = ControlAs<QCheckBox>(kSendNewline);
    autoAnswer_ = ControlAs<QCheckBox>(kAutoAnswer);
    sendText_ = ControlAs<QLineEdit>(kSendText);
    sentCount_ = ControlAs<QLineEdit>(kSentCount);
    receiveCount_ = ControlAs<QLineEdit>(kReceiveCount);
    answerPath_ = ControlAs<QLineEdit>(kAnswerPath);
    sentCount_->setFrame(false);
    receiveCount_->setFrame(false);
    display_->setUndoRedoEnabled(false);
    interval_->setText(QStringLiteral("100"));

    refreshTimer_.setSingleShot(true);
    connect(&refreshTimer_, &QTimer::timeout, this, &CDebug::OnReceiveUpdate);
    connect(&sendTimer_, &QTimer::timeout, this, &CDebug::OnTimer);
    sinceRefresh_.start();

    connect(receiveButton_, &QPushButton::clicked, this, &CDebug::OnBnClickedToggleReceive);
    connect(ControlAs<QPushButton>(kSaveButton), &QPushButton::clicked, this, &CDebug::OnBnClickedSaveLog);
    connect(ControlAs<QPushButton>(kClearButton), &QPushButton::clicked, this, &CDebug::OnBnClickedClearLog);
    connect(hexDisplay_, &QCheckBox::clicked, this, &CDebug::OnBnClickedHexDisplay);
    connect(timedSend_, &QCheckBox::clicked, this, &CDebug::OnBnClickedTimedSend);
    connect(interval_, &QLineEdit::textChanged, this, &CDebug::OnEnChangeInterval);
    connect(hexSend_, &QCheckBox::clicked, this, &CDebug::OnBnClickedHexSend);
    connect(autoAnswer_, &QCheckBox::clicked, this, &CDebug::OnBnClickedAutoAnswer);
    connect(ControlAs<QPushButton>(kSendButton), &QPushButton::clicked, this, &CDebug::OnBnClickedSend);
    connect(sendText_, &QLineEdit::textChanged, this, &CDebug::OnEnChangeSendText);
    connect(ControlAs<QPushButton>(kLoadButton), &QPushButton::clicked, this,
            &CDebug::OnBnClickedLoadAnswers);

    openChooser_ = [](QWidget*) {
        return QFileDialog::getOpenFileName(nullptr, QString(), QString(),
                                            QStringLiteral("Describe Files (*.csv);;All Files (*.*)"));
    };
    saveChooser_ = [](QWidget* owner) {
        QFileDialog dialog(owner, QString(), QStringLiteral("log"),
                           QStringLiteral("文本文件(*.txt);;Word文件(*.doc);;所有文件(*.*)"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("txt"));
        dialog.selectFile(QStringLiteral("log"));
        return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
                   ? dialog.selectedFiles().first()
                   : QString();
    };
    terminal_.SetView(this);
}

void CDebug::InitTerminal()
{
    terminal_.Init();
    cursor_ = DisplayCursor{};
    ShowSentCount(0);
    ShowReceiveCount();
}

// ------------------------------------------------------------- receiving

void CDebug::ToggleReceive()
{
    switch (terminal_.ToggleReceive()) {
    case ToggleResult::NoPort:
        note(this, terminaltext::kOpenPortFirst);
        break;
    case ToggleResult::On:
        receiveButton_->setText(FromGbk(terminaltext::kStopReceive));
        break;
    case ToggleResult::Off:
        receiveButton_->setText(FromGbk(terminaltext::kStartReceive));
        break;
    }
    receiveButton_->setAccessibleName(receiveButton_->text());
}

void CDebug::RefreshWanted()
{
    QMetaObject::invokeMethod(this, [this] { scheduleRefresh(); }, Qt::QueuedConnection);
}

void CDebug::scheduleRefresh()
{
    if (refreshTimer_.isActive())
        return;
    const qint64 since = sinceRefresh_.elapsed();
    refreshTimer_.start(static_cast<int>(std::max<qint64>(0, kRefreshPeriodMs - since)));
}

void CDebug::OnReceiveUpdate()
{
    refreshTimer_.stop();
    terminal_.BeginRefresh();
    const DisplayUpdate up = terminal_.Update(cursor_);
    if (up.changed) {
        sinceRefresh_.restart();
        ++refreshes_;
        QString text;
        if (up.replace)
            decoder_.Reset(); // a new generation decodes from a clean state
        if (up.hex)
            text = QString::fromLatin1(up.text.data(), static_cast<qsizetype>(up.text.size()));
        else
            text = decoder_.Decode(up.text);
        if (up.replace) {
            display_->setPlainText(text);
        } else {
            QTextCursor end(display_->document());
            end.movePosition(QTextCursor::End);
            end.insertText(text);
        }
        receiveCount_->setText(QStringLiteral("R:%1").arg(up.fill));
        display_->verticalScrollBar()->setValue(display_->verticalScrollBar()->maximum());
    }
    std::string answer;
    if (terminal_.TakeShownAnswer(answer))
        putSendText(FromGbk(answer));
}

void CDebug::ShowSentCount(int count)
{
    sentCount_->setText(QStringLiteral("S:%1").arg(count));
}

void CDebug::ShowReceiveCount()
{
    receiveCount_->setText(QStringLiteral("R:%1").arg(0));
}

void CDebug::SentCountChanged(int)
{
    // The latest count is read when the call runs, so late calls show no
    // stale number.
    QMetaObject::invokeMethod(this, [this] { ShowSentCount(terminal_.SentCount()); },
                              Qt::QueuedConnection);
}

void CDebug::OnBnClickedClearLog()
{
    terminal_.Clear();
    ShowSentCount(0);
    ShowReceiveCount();
    OnReceiveUpdate();
}

void CDebug::OnBnClickedHexDisplay()
{
    terminal_.SetHexDisplay(hexDisplay_->isChecked());
    OnReceiveUpdate();
}

void CDebug::OnBnClickedSaveLog()
{
    const QString path = saveChooser_ ? saveChooser_(this) : QString();
    if (path.isEmpty())
        return;
    const std::string bytes = terminal_.Store().Contents();
    // Replaced whole or not at all; a pipe, a device, a folder or a file
    // the user made read-only is refused, with the reason.
    std::string error;
    if (!WriteFileAtomically(CorePath(path), bytes, &error))
        note(this, std::string(terminaltext::kCannotWrite) + "\n" + ToGbk(FromCorePath(error)));
}

// ---------------------------------------------------------------- sending

void CDebug::putSendText(const QString& text)
{
    const QSignalBlocker block(sendText_);
    sendText_->setText(text);
}

void CDebug::showParseResult(HexParse result)
{
    if (result == HexParse::InvalidCharacter)
        note(this, terminaltext::kInvalidCharacter);
    else if (result == HexParse::TooLong)
        note(this, terminaltext::kTooLong);
}

void CDebug::OnEnChangeSendText()
{
    const QString text = sendText_->text();
    const std::optional<std::string> exact = ToGbkExact(text);
    const HexParse result = terminal_.SetSendText(exact ? *exact : ToGbk(text));
    // A character GBK lacks would go out as '?'.
    if (result == HexParse::Ok && !exact && !terminal_.HexSend())
        showParseResult(HexParse::InvalidCharacter);
    else
        showParseResult(result);
}

void CDebug::OnBnClickedHexSend()
{
    const bool hex = hexSend_->isChecked();
    sendNewline_->setEnabled(!hex);
    terminal_.SetHexSend(hex);
    putSendText(FromGbk(terminal_.SendTextForMode()));
}

void CDebug::OnBnClickedSend()
{
    terminal_.SetSendNewline(sendNewline_->isChecked());
    switch (terminal_.SendBuffer(SendKind::Manual)) {
    case SendResult::NoPort:
        note(this, terminaltext::kOpenPortFirst);
        break;
    case SendResult::LineHeld:
        note(this, terminaltext::kLineHeld);
        break;
    case SendResult::Busy:
        note(this, terminaltext::kSendBusy);
        break;
    case SendResult::Queued:
    case SendResult::Empty:
        break;
    }
}

void CDebug::OnTimer()
{
    terminal_.SetSendNewline(sendNewline_->isChecked());
    // A tick while a send still goes out, or while another page holds the
    // line, is skipped; with no port one box at a time says so.
    if (terminal_.SendBuffer(SendKind::Timer) == SendResult::NoPort && !tickBoxOpen_) {
        tickBoxOpen_ = true;
        note(this, terminaltext::kOpenPortFirst);
        tickBoxOpen_ = false;
    }
}

void CDebug::OnBnClickedTimedSend()
{
    sendTimer_.stop();
    if (!timedSend_->isChecked())
        return;
    bool ok = false;
    const int interval = interval_->text().toInt(&ok);
    if (ok && interval > 0)
        sendTimer_.start(interval);
}

void CDebug::OnEnChangeInterval()
{
    if (!timedSend_->isChecked())
        return;
    OnBnClickedTimedSend();
}

// ---------------------------------------------------------------- answers

void CDebug::OnBnClickedAutoAnswer()
{
    terminal_.SetAutoAnswer(autoAnswer_->isChecked());
}

void CDebug::OnBnClickedLoadAnswers()
{
    const QString path = openChooser_ ? openChooser_(this) : QString();
    if (path.isEmpty())
        return;
    // Never waits on the name: a named pipe or a device is refused at once.
    std::string bytes, error;
    if (!ReadAnswerFile(CorePath(path), bytes, error)) {
        note(this, std::string(terminaltext::kCannotRead) + "\n" + ToGbk(FromCorePath(error)));
        return;
    }
    answerPath_->setText(path);
    const std::vector<AnswerProblem> problems = terminal_.LoadAnswers(bytes);
    autoAnswer_->setChecked(true);
    terminal_.SetAutoAnswer(true);
    if (problems.empty())
        return;
    std::string text = terminaltext::kBadRowsHeading;
    for (std::size_t i = 0; i < problems.size() && i < kProblemLinesShown; ++i)
        text += "\n" + problems[i].reason;
    if (problems.size() > kProblemLinesShown)
        text += "\n...";
    note(this, text);
}

} // namespace pell::ui
