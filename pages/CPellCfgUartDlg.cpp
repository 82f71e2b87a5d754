#include "pages/CPellCfgUartDlg.h"

#include "ui/Gbk.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

namespace pell::ui {

CPellCfgUartDlg::CPellCfgUartDlg(QWidget* parent) : ParamPage(kTemplateId, parent)
{
    // Per port: speed and format (free text, the lists only offer values),
    // polling interval, storage interval, meter type (number).
    static const Binding kBindings[] = {
        {97, ValueRule::Text},  {98, ValueRule::Text},  {99, ValueRule::Text},
        {100, ValueRule::Text}, {101, ValueRule::Number},
        {102, ValueRule::Text}, {103, ValueRule::Text}, {104, ValueRule::Text},
        {105, ValueRule::Text}, {106, ValueRule::Number},
        {107, ValueRule::Text}, {108, ValueRule::Text}, {109, ValueRule::Text},
        {110, ValueRule::Text}, {111, ValueRule::Number},
        {112, ValueRule::Text}, {113, ValueRule::Text}, {114, ValueRule::Text},
        {115, ValueRule::Text}, {116, ValueRule::Number},
    };
    SetBindings(kBindings);

    for (int n = 0; n < kPorts; ++n) {
        speed_[n] = ControlAs<QComboBox>(kSpeedIds[n]);
        format_[n] = ControlAs<QComboBox>(kFormatIds[n]);
        type_[n] = ControlAs<QComboBox>(kMeterTypeIds[n]);
        initial_[n] = ControlAs<QLineEdit>(kInitialValueIds[n]);
        set_[n] = ControlAs<QPushButton>(kSetButtonIds[n]);
        read_[n] = ControlAs<QPushButton>(kReadButtonIds[n]);
        Q_ASSERT(speed_[n] && format_[n] && type_[n] && initial_[n] && set_[n] && read_[n]);
        connect(set_[n], &QPushButton::clicked, this, [this, n] { OnBnClickedSetSerialValue(n); });
        connect(read_[n], &QPushButton::clicked, this, [this, n] { OnBnClickedReadSerialValue(n); });
    }
}

RequestText* CPellCfgUartDlg::Request(RequestSlot slot)
{
    switch (slot) {
    case RequestSlot::Serial0: return &m_strSerialRequest[0];
    case RequestSlot::Serial1: return &m_strSerialRequest[1];
    case RequestSlot::Serial2: return &m_strSerialRequest[2];
    case RequestSlot::Serial3: return &m_strSerialRequest[3];
    default: return nullptr;
    }
}

void CPellCfgUartDlg::OnBnClickedSetSerialValue(int port)
{
    // The request keeps the text up to a pasted line break, like any value.
    m_strSerialRequest[port].Set("=" + ToGbk(initial_[port]->text()));
}

void CPellCfgUartDlg::OnBnClickedReadSerialValue(int port)
{
    m_strSerialRequest[port].Set("?");
}

} // namespace pell::ui
