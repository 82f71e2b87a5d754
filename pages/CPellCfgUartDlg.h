#pragma once
// The serial meter page (template 145): line speed, character format,
// meter type, polling and storage interval of the four serial meter ports
// (RS232-0, RS232-1, RS485-0, RS485-1), and per port the buttons that ask
// the worker to set ("=" and the initial-value edit's text) or read ("?")
// the port's value in the controller.
#include "pages/ParamPage.h"

#include <array>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace pell::ui {

class CPellCfgUartDlg : public ParamPage {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 145;
    static constexpr int kPorts = 4;
    static constexpr std::array<int, kPorts> kSpeedIds = {1155, 1156, 1157, 1158};
    static constexpr std::array<int, kPorts> kFormatIds = {1151, 1152, 1153, 1154};
    static constexpr std::array<int, kPorts> kMeterTypeIds = {1163, 1164, 1165, 1166};
    static constexpr std::array<int, kPorts> kInitialValueIds = {1186, 1187, 1188, 1189};
    static constexpr std::array<int, kPorts> kSetButtonIds = {1178, 1179, 1180, 1181};
    // The read buttons count down from RS232-0 to RS485-1.
    static constexpr std::array<int, kPorts> kReadButtonIds = {1185, 1184, 1183, 1182};

    explicit CPellCfgUartDlg(PageRouter& router, QWidget* parent = nullptr);

    // Initial-value requests of ports 0..3 (jobs 14..17): empty when nothing
    // is pending.
    std::array<RequestText, kPorts> m_strSerialRequest;
    RequestText* Request(RequestSlot slot) override;

    // Set button of port n: "=" followed by its initial-value edit's text.
    void OnBnClickedSetSerialValue(int port);
    // Read button of port n: "?".
    void OnBnClickedReadSerialValue(int port);

    QComboBox* Speed(int port) const { return speed_[port]; }
    QComboBox* Format(int port) const { return format_[port]; }
    QComboBox* MeterType(int port) const { return type_[port]; }
    QLineEdit* InitialValue(int port) const { return initial_[port]; }
    QPushButton* SetButton(int port) const { return set_[port]; }
    QPushButton* ReadButton(int port) const { return read_[port]; }

private:
    std::array<QComboBox*, kPorts> speed_{};
    std::array<QComboBox*, kPorts> format_{};
    std::array<QComboBox*, kPorts> type_{};
    std::array<QLineEdit*, kPorts> initial_{};
    std::array<QPushButton*, kPorts> set_{};
    std::array<QPushButton*, kPorts> read_{};
};

} // namespace pell::ui
