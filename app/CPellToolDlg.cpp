#include "app/CPellToolDlg.h"

#include "ui/Gbk.h"
#include "app/PageRegistry.h"
#include "config/CPellCfgDlg.h"
#include "config/IConfigView.h"
#include "config/JobControl.h"
#include "serial/PortList.h"
#include "serial/PortSettings.h"
#include "ui/UiThread.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QTreeWidget>

#include <map>

namespace pell::ui {

namespace {


const char* const kOpenFailed = ">>> 请先以正确参数打开串口...";
const char* const kNoPort = "没发现串口，程序不能正常执行，请检查串口，退出！";
const char* const kLineGone = "串口已断开";
const char* const kQuitDuringDownload = "正在下载程序，确定要退出吗？";
const char* const kQuitDuringConfig = "正在与设备通信，确定要退出吗？";

// The port as the technician names it in the failure's detail.
QString shownPortName(const std::string& port)
{
#ifdef _WIN32
    return QString::fromStdString(port);
#else
    return QString::fromStdString(PosixDevicePath(port));
#endif
}

// Why the port did not open, for the line below the failure box's text;
// empty when there is nothing the technician can act on.
QString openFailureDetail(OpenError error, const std::string& port, const std::string& detail)
{
    const QString name = shownPortName(port);
    switch (error) {
    case OpenError::PermissionDenied:
        return QStringLiteral("\n没有打开串口 %1 的权限：请把当前用户加入 %2 组"
                              "（sudo usermod -aG %2 $USER），然后重新登录。")
            .arg(name, QString::fromStdString(detail));
    case OpenError::Busy:
        return QStringLiteral("\n串口 %1 正被其他程序使用：请先关闭占用它的程序，然后再打开。").arg(name);
    case OpenError::NotFound:
        return QStringLiteral("\n没有找到串口 %1：请检查串口名称，以及串口线或 USB 转串口线是否插好。")
            .arg(name);
    case OpenError::NotASerialLine:
        return QStringLiteral("\n%1 不是串口：请选择串口设备。").arg(name);
    default:
        return {};
    }
}

} // namespace

CPellToolDlg::CPellToolDlg(const PageServices& services, PortLister lister, QWidget* parent)
    : QDialog(parent), lister_(std::move(lister)), services_(services), port_(services.port)
{
    RestartUiCalls();

    const DialogTemplate& t = LoadDialogTemplate(102);
    setFont(DialogFont(t));
    setWindowTitle(QString::fromUtf8(t.caption.c_str()));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowIcon(style()->standardIcon(QStyle::SP_ComputerIcon));
    controls_.Build(this, t);
    DialogUnits du(font());
    setFixedSize(du.x(t.width), du.y(t.height));

    tree_ = controls_.ControlAs<QTreeWidget>(1001);
    frame_ = controls_.ControlAs<QGroupBox>(1007);
    portCombo_ = controls_.ControlAs<QComboBox>(1002);
    baudCombo_ = controls_.ControlAs<QComboBox>(1003);
    dataBitsCombo_ = controls_.ControlAs<QComboBox>(1006);
    stopBitsCombo_ = controls_.ControlAs<QComboBox>(1008);
    parityCombo_ = controls_.ControlAs<QComboBox>(1004);
    portButton_ = controls_.ControlAs<QPushButton>(1005);
    title_ = controls_.ControlAs<QLineEdit>(1107);

    // The About box: the window's system menu is the platform's, so the
    // entry sits in the window's context menu and on F1.
    auto* about = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(about, &QShortcut::activated, this, &CPellToolDlg::ShowAbout);

    // Tree: the pages at the root, each parent's pages below it, expanded.
    // An item carries its page's template.
    std::map<int, QTreeWidgetItem*> items;
    for (const PageEntry& p : PageRegistry()) {
        if (!p.InTree())
            continue;
        const QStringList text(QString::fromUtf8(p.caption));
        auto* item = p.parent == 0 ? new QTreeWidgetItem(tree_, text) : new QTreeWidgetItem(items.at(p.parent), text);
        item->setData(0, Qt::UserRole, p.templateId);
        items[p.templateId] = item;
    }
    for (auto& [templateId, item] : items)
        if (item->childCount() > 0)
            item->setExpanded(true);
    tree_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    // The pages, stacked in the frame in this order; the pages of
    // parameters and records are made for the configuration page, which
    // comes before them and owns them.
    PageRouter* configRouter = nullptr;
    for (const PageEntry& p : PageRegistry()) {
        QWidget* page = p.createTool != nullptr ? p.createTool(frame_, services_)
                                                : p.createSettings(frame_, *configRouter);
        if (auto* configPage = qobject_cast<CPellCfgDlg*>(page))
            configRouter = &configPage->Router();
        pages_.emplace_back(p.templateId, page);
        if (!download_)
            download_ = dynamic_cast<DownloadPageHooks*>(page);
        if (!config_)
            config_ = dynamic_cast<ConfigPageHooks*>(page);
        if (!terminal_)
            terminal_ = dynamic_cast<TerminalPageHooks*>(page);
    }

    connect(tree_, &QTreeWidget::currentItemChanged, this, [this] { OnTvnSelchangedTree(); });
    connect(portButton_, &QPushButton::clicked, this, &CPellToolDlg::OnBnClickedPortButton);
}

CPellToolDlg::~CPellToolDlg()
{
    shutdown();
}

void CPellToolDlg::shutdown()
{
    if (shutDown_)
        return;
    shutDown_ = true;
    // Release every worker that waits for the UI, then stop the threads:
    // the dispatcher first (it calls into the pages), then the pages' own.
    ShutdownUiCalls();
    dispatcher_.Stop();
    port_.SetOwner(nullptr);
    // The port closes before the pages' threads are stopped: a write under
    // way (a long text send of the terminal at 9600 baud lasts seconds) and
    // every wait for an answer end at once instead of running out.
    port_.ClosePort();
    // No page asks the other any more before they go.
    if (config_) {
        config_->SetLineCheck(nullptr);
        config_->SetNavigationSwitch(nullptr);
    }
    if (download_)
        download_->SetLineCheck(nullptr);
    if (terminal_) {
        terminal_->SetLineCheck(nullptr);
        terminal_->SetNavigationSwitch(nullptr);
        terminal_->StopTerminal();
    }
    // The pages' workers stop before any page goes, whatever order the
    // navigation table lists them in: the configuration worker calls into
    // the parameter pages until it has stopped.
    if (config_)
        config_->StopConfigPage();
    if (download_)
        download_->StopDownloadPage();
    // The line's owner forgets the pages' receivers before they go.
    dispatcher_.SetDownloadReceiver(nullptr);
    dispatcher_.SetConfigReceiver(nullptr);
    dispatcher_.SetTerminalReceiver(nullptr);
    for (auto& [id, page] : pages_)
        delete page.data();
    pages_.clear();
    download_ = nullptr;
    config_ = nullptr;
    terminal_ = nullptr;
}

void CPellToolDlg::contextMenuEvent(QContextMenuEvent* e)
{
    QMenu menu(this);
    menu.addAction(QStringLiteral("关于 Ormel(&A)..."), this, &CPellToolDlg::ShowAbout);
    menu.exec(e->globalPos());
}

QRect CPellToolDlg::pageRect() const
{
    return frame_->contentsRect().isValid() ? frame_->rect().adjusted(2, 2, -2, -2) : QRect();
}

QWidget* CPellToolDlg::Page(int templateId) const
{
    for (const auto& [id, page] : pages_)
        if (id == templateId)
            return page;
    return nullptr;
}

void CPellToolDlg::EnableNavigation(bool enable)
{
    tree_->setEnabled(enable);
}

bool CPellToolDlg::OnInitDialog()
{
    // Pages at the page rectangle; the download page shown, all others hidden.
    title_->setText(QString::fromUtf8(PageRegistry().front().caption));
    QRect r = pageRect();
    for (auto& [id, page] : pages_) {
        page->setGeometry(r);
        page->setVisible(id == PageRegistry().front().templateId);
    }

    port_.SetOwner(this);
    port_.SetReceiveThreshold(1);

    baudCombo_->setEditText(QStringLiteral("115200"));
    dataBitsCombo_->setEditText(QStringLiteral("8"));
    stopBitsCombo_->setEditText(QStringLiteral("1"));
    parityCombo_->setEditText(QStringLiteral("None"));

    std::vector<std::string> ports = lister_();
    for (const auto& port : ports)
        if (!port.empty())
            portCombo_->addItem(QString::fromStdString(port));
    // Started before the adapter was plugged in: the box tells so, and the
    // pages, their workers and the dispatcher start all the same, so that a
    // port typed in afterwards works like one opened at start.
    const bool found = portCombo_->count() > 0;
    if (found) {
        portCombo_->setCurrentIndex(0);
        TogglePort();
    } else {
        ShowMessageQ(this, QString::fromUtf8(kNoPort), windowTitle());
    }
    UpdatePortControls();

    if (download_)
        download_->InitDownloadPage();
    if (config_) {
        config_->SetNavigationSwitch([this](bool enable) { EnableNavigation(enable); });
        config_->InitConfigPage();
    }
    if (terminal_) {
        terminal_->SetNavigationSwitch([this](bool enable) { EnableNavigation(enable); });
        terminal_->InitTerminal();
    }

    // One conversation with the controller at a time: the line's owner
    // says who holds it. Neither the download nor the configuration page
    // starts one while the other holds the line; the terminal's sends and
    // automatic answers are skipped while either does.
    dispatcher_.SetDownloadReceiver(download_ ? download_->DownloadReceiver() : nullptr);
    dispatcher_.SetConfigReceiver(config_ ? config_->ConfigReceiver() : nullptr);
    dispatcher_.SetTerminalReceiver(terminal_ ? terminal_->TerminalReceiver() : nullptr);
    const LineOwner* owner = &dispatcher_.Owner();
    if (config_)
        config_->SetLineCheck([owner] { return owner->HeldByOther(LineHolder::Configuration); });
    if (download_)
        download_->SetLineCheck([owner] { return owner->HeldByOther(LineHolder::Download); });
    if (terminal_)
        terminal_->SetLineCheck([owner] { return owner->HeldByOther(LineHolder::Terminal); });
    dispatcher_.Start();
    return found;
}

void CPellToolDlg::OnBnClickedPortButton()
{
    TogglePort();
    UpdatePortControls();
}

bool CPellToolDlg::TogglePort()
{
    if (port_.IsOpen()) {
        // Whether the configuration page holds the conversation is decided
        // before the line goes: closing it fails the job's commands at once,
        // and a job that then ends on the worker only posts its idle state.
        const bool configHeld = config_ && dispatcher_.Owner().Holds(LineHolder::Configuration);
        port_.ClosePort();
        if (download_ && download_->IsDownloadActive())
            download_->ToggleDownload();
        if (configHeld) {
            config_->SetControlState(kControlsIdle);
            config_->SetJobState(kJobIdle);
        }
        if (terminal_ && terminal_->IsReceiving())
            terminal_->ToggleReceive();
        return true;
    }
    const std::string port = portCombo_->currentText().toStdString();
    const unsigned baud = static_cast<unsigned>(LeadingNumber(baudCombo_->currentText().toStdString()));
    const int dataBits = static_cast<int>(LeadingNumber(dataBitsCombo_->currentText().toStdString()));
    const int stopBits = StopBitsFromText(stopBitsCombo_->currentText().toStdString());
    const int parity = ParityFromText(parityCombo_->currentText().toStdString());
    if (!port_.OpenPort(port, baud, parity, dataBits, stopBits)) {
        const QString text = QString::fromUtf8(kOpenFailed) +
                             openFailureDetail(port_.LastOpenError(), port, port_.LastOpenDetail());
        ShowMessageQ(this, text, windowTitle());
        return false;
    }
    return true;
}

void CPellToolDlg::UpdatePortControls()
{
    const bool open = port_.IsOpen();
    portButton_->setText(open ? QStringLiteral("关闭串口") : QStringLiteral("打开串口"));
    for (QComboBox* c : {portCombo_, baudCombo_, dataBitsCombo_, stopBitsCombo_, parityCombo_})
        c->setEnabled(!open);
}

void CPellToolDlg::OnTvnSelchangedTree()
{
    QTreeWidgetItem* item = tree_->currentItem();
    const QString text = item ? item->text(0) : QString();
    title_->setText(text);
    QRect r = pageRect();
    for (auto& [id, page] : pages_) {
        page->setGeometry(r);
        page->hide();
    }
    if (item)
        if (QWidget* page = Page(item->data(0, Qt::UserRole).toInt()))
            page->show();
}

void CPellToolDlg::ShowAbout()
{
    QDialog about(this);
    const DialogTemplate& t = LoadDialogTemplate(100);
    about.setFont(DialogFont(t));
    about.setWindowTitle(QString::fromUtf8(t.caption.c_str()));
    DialogControls c;
    c.Build(&about, t);
    DialogUnits du(about.font());
    about.setFixedSize(du.x(t.width), du.y(t.height));
    if (auto* ok = c.ControlAs<QPushButton>(1))
        connect(ok, &QPushButton::clicked, &about, &QDialog::accept);
    about.exec();
}

const char* CPellToolDlg::closeQuestion() const
{
    if (dispatcher_.Owner().Holds(LineHolder::Download))
        return kQuitDuringDownload;
    if (dispatcher_.Owner().Holds(LineHolder::Configuration))
        return kQuitDuringConfig;
    return nullptr;
}

void CPellToolDlg::reject()
{
    // Quitting mid-download leaves the controller with part of an image, so
    // the close box asks first; "否" (the default) keeps everything running.
    // A confirmed close ends the modal loop, and the shutdown closes the
    // port before it stops and joins the pages' threads.
    if (const char* question = closeQuestion()) {
        if (!AskYesNo(this, ToGbk(QString::fromUtf8(question))))
            return;
    }
    QDialog::reject();
}

void CPellToolDlg::keyPressEvent(QKeyEvent* e)
{
    // Esc is how the pages' boxes are dismissed ("请将设备重新上电" among
    // them); one press too many must not end the tool. The window closes by
    // its close box or Alt+F4, which ask first while the line is in use.
    if (e->matches(QKeySequence::Cancel)) {
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

void CPellToolDlg::OnSerialNotify(int message, uint32_t)
{
    // Modem-line and line-error notifications need nothing of the window.
    if (message != kMsgDeviceLost)
        return;
    QPointer<CPellToolDlg> self(this);
    PostToUiThread([self] {
        if (self)
            self->onDeviceLost();
    });
}

void CPellToolDlg::onDeviceLost()
{
    // A vanished device closes the port, as the user would with the button,
    // and says so once: the loss is reported once per opening, and a port
    // the user closed meanwhile needs no word.
    if (shutDown_ || !port_.IsOpen() || !port_.IsLost())
        return;
    TogglePort();
    UpdatePortControls();
    ShowMessageQ(this, QString::fromUtf8(kLineGone), QStringLiteral("提示"));
}

} // namespace pell::ui
