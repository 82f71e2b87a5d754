#pragma once
// The main window: navigation tree, page frame with the fourteen pages, the
// port and line-setting combos, the open/close button, and the receive
// dispatch thread that hands received bytes to the page holding the
// conversation with the controller.
#include "ui/DialogPage.h"
#include "ui/PageHooks.h"
#include "serial/ReceiveDispatcher.h"
#include "serial/CSerial.h"
#include "ui/PageServices.h"

#include <QDialog>
#include <QPointer>

#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QGroupBox;

namespace pell::ui {

class CPellToolDlg : public QDialog, private ISerialOwner {
    Q_OBJECT
public:
    using PortLister = std::function<std::vector<std::string>()>;
    // The pages talk to the controller through `services`; `lister` names
    // the ports the port box offers.
    CPellToolDlg(const PageServices& services, PortLister lister, QWidget* parent = nullptr);
    ~CPellToolDlg() override;

    // Start-up after the window exists: pages placed, ports listed, the
    // first port opened, pages initialised, the dispatch thread started.
    // False when no serial port was found: the box says so and everything
    // but the port starts anyway, so a port typed in later works fully.
    bool OnInitDialog();

    // Closing the window (close box, Alt+F4) while a download or a
    // configuration job is under way asks first; Esc never closes it.
    void reject() override;

    // Open/close button 1005.
    void OnBnClickedPortButton();
    bool TogglePort();
    void UpdatePortControls();
    void OnTvnSelchangedTree();
    void ShowAbout();

    // The configuration page disables the tree (through the switch it is
    // handed) while it holds the conversation.
    QTreeWidget* Tree() const { return tree_; }
    void EnableNavigation(bool enable);

    // The page of a template (129 download ... 139 Modbus).
    QWidget* Page(int templateId) const;
    QWidget* Control(int id) const { return controls_.Control(id); }
    ReceiveDispatcher& Dispatcher() { return dispatcher_; }

protected:
    void contextMenuEvent(QContextMenuEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void OnSerialNotify(int message, uint32_t value) override;
    void onDeviceLost();
    // The question to ask before closing (UTF-8), nullptr when nothing that
    // talks to the controller is under way.
    const char* closeQuestion() const;
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
    std::vector<std::pair<int, QPointer<QWidget>>> pages_; // creation order
    DownloadPageHooks* download_ = nullptr;
    ConfigPageHooks* config_ = nullptr;
    TerminalPageHooks* terminal_ = nullptr;
    PageServices services_;
    CSerial& port_;
    ReceiveDispatcher dispatcher_{port_};
    bool shutDown_ = false;
};

} // namespace pell::ui
