#pragma once
// The counter page (template 144): mode, coefficient, storage interval and
// use of the four pulse counters, and per counter the buttons that ask the
// worker to set ("=" and the initial-value edit's text) or read ("?") the
// counter's value in the controller.
#include "pages/ParamPage.h"

#include <array>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace pell::ui {

class CPellCfgCntDlg : public ParamPage {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 144;
    static constexpr int kCounters = 4;
    static constexpr std::array<int, kCounters> kModeIds = {1134, 1135, 1136, 1137};
    static constexpr std::array<int, kCounters> kUseIds = {1142, 1143, 1144, 1145};
    static constexpr std::array<int, kCounters> kInitialValueIds = {1146, 1147, 1148, 1149};
    static constexpr std::array<int, kCounters> kSetButtonIds = {1150, 1015, 1016, 1017};
    static constexpr std::array<int, kCounters> kReadButtonIds = {1018, 1019, 1020, 1021};

    explicit CPellCfgCntDlg(PageRouter& router, QWidget* parent = nullptr);

    // Initial-value requests of counters 0..3 (jobs 9..12): empty when
    // nothing is pending.
    std::array<RequestText, kCounters> m_strCounterRequest;
    RequestText* Request(RequestSlot slot) override;

    // Set button of counter n: "=" followed by its initial-value edit's text.
    void OnBnClickedSetCounterValue(int counter);
    // Read button of counter n: "?".
    void OnBnClickedReadCounterValue(int counter);

    QComboBox* Mode(int counter) const { return mode_[counter]; }
    QComboBox* Use(int counter) const { return use_[counter]; }
    QLineEdit* InitialValue(int counter) const { return initial_[counter]; }
    QPushButton* SetButton(int counter) const { return set_[counter]; }
    QPushButton* ReadButton(int counter) const { return read_[counter]; }

private:
    std::array<QComboBox*, kCounters> mode_{};
    std::array<QComboBox*, kCounters> use_{};
    std::array<QLineEdit*, kCounters> initial_{};
    std::array<QPushButton*, kCounters> set_{};
    std::array<QPushButton*, kCounters> read_{};
};

} // namespace pell::ui
