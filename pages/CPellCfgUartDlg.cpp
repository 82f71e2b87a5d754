#include "pages/CPellCfgUartDlg.h"

#include "ui/Gbk.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>

namespace pell::ui {

CPellCfgUartDlg::CPellCfgUartDlg(PageRouter& router, QWidget* parent) : ParamPage(kTemplateId, router, parent)
{
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
        // The value the controller gave for a read or set lands in the edit.
        m_strSerialRequest[n].SetAnswerHook([this, n](const std::string& gbkText) {
            QMetaObject::invokeMethod(this, [this, n, text = FromGbk(gbkText)] { initial_[n]->setText(text); },
                                      Qt::QueuedConnection);
        });
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
