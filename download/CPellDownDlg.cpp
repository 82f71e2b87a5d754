#include "download/CPellDownDlg.h"

#include "ui/Gbk.h"
#include "download/DownloadTexts.h"

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

#include <cmath>
#include <cstring>

namespace pell::ui {

namespace {

constexpr int kTypeCombo = 1012;
constexpr int kPathEdit = 1013;
constexpr int kLoadButton = 1014;
constexpr int kDownloadButton = 1015;
constexpr int kProgress = 1016;
constexpr int kLogEdit = 1017;
constexpr int kClearButton = 1018;

} // namespace

CPellDownDlg::CPellDownDlg(QWidget* parent, CSerial& port, const Clock& clock)
    : DialogPage(129, parent), session_(*this, port, clock)
{
    typeCombo_ = ControlAs<QComboBox>(kTypeCombo);
    pathEdit_ = ControlAs<QLineEdit>(kPathEdit);
    loadButton_ = ControlAs<QPushButton>(kLoadButton);
    downloadButton_ = ControlAs<QPushButton>(kDownloadButton);
    clearButton_ = ControlAs<QPushButton>(kClearButton);
    progress_ = ControlAs<QProgressBar>(kProgress);
    log_ = LogView(ControlAs<QPlainTextEdit>(kLogEdit));
    typeLabel_ = qobject_cast<QLabel*>(Controls().LabelWithText(QStringLiteral("程序类型：")));

    // The transfer rate sits left of the progress bar, on its line, and is
    // shown only while blocks go out.
    rateLabel_ = new QLabel(this);
    rateLabel_->setObjectName(QStringLiteral("rateLabel"));
    rateLabel_->setGeometry(Units().rect(17, 276, 126, 8));
    rateLabel_->setAccessibleName(QStringLiteral("下载速度"));
    rateLabel_->hide();

    connect(loadButton_, &QPushButton::clicked, this, &CPellDownDlg::OnBnClickedLoad);
    connect(downloadButton_, &QPushButton::clicked, this, &CPellDownDlg::OnBnClickedDownload);
    connect(clearButton_, &QPushButton::clicked, this, &CPellDownDlg::OnBnClickedClearLog);
    chooser_ = [](QWidget* owner) {
        return QFileDialog::getOpenFileName(owner, QString(), QString(), QStringLiteral("*.bin"));
    };
}

CPellDownDlg::~CPellDownDlg()
{
    StopDownloadPage();
}

void CPellDownDlg::StopDownloadPage()
{
    // The worker goes first; what it queued dies with the page.
    session_.Shutdown();
}

void CPellDownDlg::InitDownloadPage()
{
    if (typeLabel_)
        typeLabel_->setText(QStringLiteral("程序类型:"));
    downloadButton_->setText(QStringLiteral("下载"));
    loadButton_->setText(QStringLiteral("加载"));
    clearButton_->setText(QStringLiteral("清除日志"));
    typeCombo_->addItem(FromGbk(downloadtext::kApplication));
    typeCombo_->setCurrentIndex(typeCombo_->count() - 1);
    log_.ShowWhole(session_.LogText());
    progress_->hide();
    session_.Init();
}

std::string CPellDownDlg::imagePath() const
{
    return CorePath(pathEdit_->text());
}

std::string CPellDownDlg::programType() const
{
    return ToGbk(typeCombo_->currentText());
}

void CPellDownDlg::ToggleDownload()
{
    session_.ToggleDownload(imagePath(), programType());
}

void CPellDownDlg::OnBnClickedLoad()
{
    const QString path = chooser_ ? chooser_(this) : QString();
    if (!path.isEmpty())
        pathEdit_->setText(path);
}

void CPellDownDlg::OnBnClickedDownload()
{
    if (!session_.IsDownloadActive()) {
        // The claim is published before the configuration page's state is
        // read; its worker does the same the other way round before it takes
        // a page request, so two starts at once cannot both go ahead.
        session_.ClaimLine(true);
        if (configHoldsLine_ && configHoldsLine_()) {
            session_.ClaimLine(false);
            ShowMessageQ(this, QStringLiteral("参数配置正在进行，请等待参数配置结束后再下载"),
                         QStringLiteral("提示"));
            return;
        }
    }
    session_.OnDownloadButton(imagePath(), programType());
    session_.ClaimLine(false);
}

void CPellDownDlg::OnBnClickedClearLog()
{
    session_.ClearLog();
}

void CPellDownDlg::setInputsEnabled(bool enabled)
{
    typeCombo_->setEnabled(enabled);
    loadButton_->setEnabled(enabled);
    pathEdit_->setEnabled(enabled);
}

QString CPellDownDlg::RateText(const TransferRate& rate)
{
    const double kb = rate.bytesPerSecond / 1024.0;
    const long left = std::lround(std::max(0.0, rate.secondsLeft));
    return QStringLiteral("%1 KB/s  剩余 %2:%3")
        .arg(kb, 0, 'f', kb < 100 ? 1 : 0)
        .arg(left / 60)
        .arg(left % 60, 2, 10, QLatin1Char('0'));
}

// ---------------------------------------------------------------- the view

void CPellDownDlg::post(std::function<void()> fn)
{
    // Queued even on the UI thread, so that the page sees the session's calls
    // in the order they were made.
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void CPellDownDlg::LogAppended(const std::string& line, bool emptiedFirst)
{
    post([this, change = PageLog::Change{emptiedFirst, line}] { log_.Show(change); });
}

void CPellDownDlg::LogCleared()
{
    post([this] { log_.Clear(); });
}

void CPellDownDlg::SetProgressRange(int blocks)
{
    post([this, blocks] {
        progress_->setRange(0, blocks);
        progress_->setValue(0);
    });
}

void CPellDownDlg::SetProgress(int position)
{
    post([this, position] { progress_->setValue(position); });
}

void CPellDownDlg::ShowActiveLook()
{
    post([this] {
        progress_->show();
        downloadButton_->setText(QStringLiteral("取消"));
            setInputsEnabled(false);
    });
}

void CPellDownDlg::ShowIdleLook()
{
    post([this] {
        downloadButton_->setText(QStringLiteral("下载"));
            setInputsEnabled(true);
        progress_->setValue(0);
        progress_->hide();
        rateLabel_->hide();
        rateLabel_->clear();
        if (prompt_)
            prompt_->done(QMessageBox::Ok);
    });
}

void CPellDownDlg::ShowThroughput(const TransferRate& rate)
{
    post([this, rate] {
        if (!session_.IsDownloadActive())
            return; // the page was reset meanwhile
        rateLabel_->setText(RateText(rate));
        rateLabel_->show();
    });
}

void CPellDownDlg::ClosePowerCyclePrompt()
{
    post([this] {
        if (prompt_)
            prompt_->done(QMessageBox::Ok);
    });
}

void CPellDownDlg::ShowPowerCyclePrompt()
{
    // The boot loader may already have answered (it closes the prompt
    // through the queue, which only runs inside the prompt's own loop).
    const DownloadState state = session_.State();
    if (state != DownloadState::BootBanner && state != DownloadState::LoaderHandshake)
        return;
    auto* box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("提示"),
                                FromGbk(downloadtext::kPowerCycle), QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("powerCyclePrompt"));
    prompt_ = box;
    box->exec();
    delete prompt_.data(); // null when the page took it down with itself
}

void CPellDownDlg::MessageBox(const std::string& text, const std::string& caption)
{
    ShowMessage(this, text, caption);
}

void CPellDownDlg::ShowFileError(const std::string& path, int error, const std::string& reason)
{
    ShowMessageQ(this,
                 QStringLiteral("无法读取文件“%1”：%2")
                     .arg(FromCorePath(path),
                          reason.empty() ? QString::fromLocal8Bit(std::strerror(error))
                                         : FromCorePath(reason)),
                 QStringLiteral("提示"));
}

} // namespace pell::ui
