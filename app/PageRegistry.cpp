#include "app/PageRegistry.h"

#include "ui/DialogPage.h"
#include "config/CPellCfgDlg.h"
#include "debug/CDebug.h"
#include "download/CPellDownDlg.h"
#include "pages/CPellCfgDevDlg.h"
#include "pages/CPellCfgDiDlg.h"
#include "pages/CPellCfgGprsDlg.h"
#include "pages/CPellCfgRelayDlg.h"
#include "pages/CPellCfgWtrDlg.h"
#include "pages/CPellCfgSaveDlg.h"
#include "pages/CPellCfgCntDlg.h"
#include "pages/CPellCfgUartDlg.h"
#include "pages/CPellCfgSmsDlg.h"
#include "pages/CPellCfgModbusDlg.h"
#include "pages/CPellCfgRcdDlg.h"

namespace pell::ui {

namespace {

template <class Page>
QWidget* make(QWidget* parent)
{
    return new Page(parent);
}

// The SMS and Modbus pages have no tree item: the read-back fills them and
// the write reads them, but the technician never sees them.
constexpr PageEntry kPages[] = {
    {129, "下载工具", 0, PageKind::Tool, make<CPellDownDlg>},
    {135, "调试工具", 0, PageKind::Tool, make<CDebug>},
    {132, "参数配置", 0, PageKind::Config, make<CPellCfgDlg>},
    {133, "基本设置", 132, PageKind::Parameters, make<CPellCfgDevDlg>},
    {134, "网络设置", 132, PageKind::Parameters, make<CPellCfgGprsDlg>},
    {141, "水电设置", 132, PageKind::Parameters, make<CPellCfgWtrDlg>},
    {142, "输入接口设置", 132, PageKind::Parameters, make<CPellCfgDiDlg>},
    {143, "继电器设置", 132, PageKind::Parameters, make<CPellCfgRelayDlg>},
    {144, "计数器设置", 132, PageKind::Parameters, make<CPellCfgCntDlg>},
    {145, "串口设置", 132, PageKind::Parameters, make<CPellCfgUartDlg>},
    {147, "存储设置", 132, PageKind::Parameters, make<CPellCfgSaveDlg>},
    {149, "历史记录", 132, PageKind::Records, make<CPellCfgRcdDlg>},
    {138, "短信设置", -1, PageKind::Parameters, make<CPellCfgSmsDlg>},
    {139, "MODBUS设置", -1, PageKind::Parameters, make<CPellCfgModbusDlg>},
};

} // namespace

std::span<const PageEntry> PageRegistry()
{
    return kPages;
}

const PageEntry* FindPageEntry(int templateId)
{
    for (const PageEntry& e : kPages)
        if (e.templateId == templateId)
            return &e;
    return nullptr;
}

QWidget* CreatePage(int templateId, QWidget* parent)
{
    if (const PageEntry* e = FindPageEntry(templateId))
        return e->create(parent);
    return new DialogPage(templateId, parent);
}

} // namespace pell::ui
