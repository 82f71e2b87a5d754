#pragma once
// The main window: navigation tree, page frame with the fourteen pages, the
// port and line-setting combos, the open/close button, and the receive
// dispatch thread that hands received bytes to the page holding the
// conversation with the controller.
#include "app/DialogPage.h"
#include "app/PageHooks.h"
#include "app/ReceiveDispatcher.h"
#include "serial/CSerial.h"

#include <QDialog>
#include <QPointer>

#include <array>
#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class QGroupBox;

namespace pell::ui {

class CPellToolDlg : public QDialog, private ISerialOwner {
    Q_OBJECT
public:
    using PortLister = std::function<std::vector<std::string>()>;
    explicit CPellToolDlg(PortLister lister = {}, QWidget* parent = nullptr);
    ~CPellToolDlg() override;

    // Start-up after the window exists: pages placed, ports listed, the
    // first port opened, pages initialised, the dispatch thread started.
    // False when no serial port was found.
    bool OnInitDialog();

    // Open/close button 1005.
    void OnBnClickedPortButton();
    bool TogglePort();
    void UpdatePortControls();
    void OnTvnSelchangedTree();
    void ShowAbout();

    // For the pages: they disable the tree while they hold the conversation.
    QTreeWidget* Tree() const { return tree_; }
    void EnableNavigation(bool enable);

    // The page of a template (129 download ... 139 Modbus).
    QWidget* Page(int templateId) const;
    QWidget* Control(int id) const { return controls_.Control(id); }
    // The page names in the order the page switcher compares them.
    static const std::array<const char*, 14>& PageNames();
    ReceiveDispatcher& Dispatcher() { return dispatcher_; }

    // The main window of the process (null when there is none).
    static CPellToolDlg* Instance();

protected:
    void closeEvent(QCloseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;

private:
    void OnSerialNotify(int message, uint32_t value) override;
    QRect pageRect() const;
    void shutdown();

    PortLister lister_;
    DialogControls controls_;
    QTreeWidget* tree_ = nullptr;
    QGroupBox* frame_ = nullptr;
    QComboBox* portCombo_ = nullptr;
    QComboBox* baudCombo_ = nullptr;
    QComboBox* dataBitsCombo_ = nullptr;
    QComboBox* stopBitsCombo_ = nullptr;
    QComboBox* parityCombo_ = nullptr;
    QPushButton* portButton_ = nullptr;
    QLineEdit* title_ = nullptr;
    std::array<QTreeWidgetItem*, 3> roots_{};
    std::vector<std::pair<int, QPointer<QWidget>>> pages_; // creation order
    DownloadPageHooks* download_ = nullptr;
    ConfigPageHooks* config_ = nullptr;
    TerminalPageHooks* terminal_ = nullptr;
    ReceiveDispatcher dispatcher_{theSerial};
    bool shutDown_ = false;
};

} // namespace pell::ui
