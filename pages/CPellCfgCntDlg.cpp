#include "pages/CPellCfgCntDlg.h"

#include "ui/Gbk.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>

namespace pell::ui {

CPellCfgCntDlg::CPellCfgCntDlg(PageRouter& router, QWidget* parent) : ParamPage(kTemplateId, router, parent)
{
    for (int n = 0; n < kCounters; ++n) {
        mode_[n] = ControlAs<QComboBox>(kModeIds[n]);
        use_[n] = ControlAs<QComboBox>(kUseIds[n]);
        initial_[n] = ControlAs<QLineEdit>(kInitialValueIds[n]);
        set_[n] = ControlAs<QPushButton>(kSetButtonIds[n]);
        read_[n] = ControlAs<QPushButton>(kReadButtonIds[n]);
        Q_ASSERT(mode_[n] && use_[n] && initial_[n] && set_[n] && read_[n]);
        connect(set_[n], &QPushButton::clicked, this, [this, n] { OnBnClickedSetCounterValue(n); });
        connect(read_[n], &QPushButton::clicked, this, [this, n] { OnBnClickedReadCounterValue(n); });
        // The value the controller gave for a read or set lands in the edit.
        m_strCounterRequest[n].SetAnswerHook([this, n](const std::string& gbkText) {
            QMetaObject::invokeMethod(this, [this, n, text = FromGbk(gbkText)] { initial_[n]->setText(text); },
                                      Qt::QueuedConnection);
        });
    }
}

RequestText* CPellCfgCntDlg::Request(RequestSlot slot)
{
    switch (slot) {
    case RequestSlot::Counter0: return &m_strCounterRequest[0];
    case RequestSlot::Counter1: return &m_strCounterRequest[1];
    case RequestSlot::Counter2: return &m_strCounterRequest[2];
    case RequestSlot::Counter3: return &m_strCounterRequest[3];
    default: return nullptr;
    }
}

void CPellCfgCntDlg::OnBnClickedSetCounterValue(int counter)
{
    // The request keeps the text up to a pasted line break, like any value.
    m_strCounterRequest[counter].Set("=" + ToGbk(initial_[counter]->text()));
}

void CPellCfgCntDlg::OnBnClickedReadCounterValue(int counter)
{
    m_strCounterRequest[counter].Set("?");
}

} // namespace pell::ui
