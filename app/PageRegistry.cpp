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
#include "pages/ParamPage.h"

namespace pell::ui {

namespace {

template <class Page>
QWidget* make(QWidget* parent, PageRouter& router)
{
    return new Page(router, parent);
}

// A page of parameters whose controls need nothing beyond their
// descriptors' rules needs no class of its own: a row
// {template, caption, 132, PageKind::Parameters, nullptr, plain<template>}.
template <int Template>
[[maybe_unused]] QWidget* plain(QWidget* parent, PageRouter& router)
{
    return new ParamPage(Template, router, parent);
}

QWidget* makeDownload(QWidget* parent, const PageServices& services)
{
    return new CPellDownDlg(parent, services.port, services.clock);
}

QWidget* makeDebug(QWidget* parent, const PageServices& services)
{
    return new CDebug(parent, services.port);
}

QWidget* makeConfig(QWidget* parent, const PageServices& services)
{
    return new CPellCfgDlg(parent, services);
}

// The SMS and Modbus pages have no tree item: the read-back fills them and
// the write reads them, but the technician never sees them.
constexpr PageEntry kPages[] = {
    {129, "下载工具", 0, PageKind::Tool, makeDownload, nullptr},
    {135, "调试工具", 0, PageKind::Tool, makeDebug, nullptr},
    {132, "参数配置", 0, PageKind::Config, makeConfig, nullptr},
    {133, "基本设置", 132, PageKind::Parameters, nullptr, make<CPellCfgDevDlg>},
    {134, "网络设置", 132, PageKind::Parameters, nullptr, make<CPellCfgGprsDlg>},
    {141, "水电设置", 132, PageKind::Parameters, nullptr, make<CPellCfgWtrDlg>},
    {142, "输入接口设置", 132, PageKind::Parameters, nullptr, make<CPellCfgDiDlg>},
    {143, "继电器设置", 132, PageKind::Parameters, nullptr, make<CPellCfgRelayDlg>},
    {144, "计数器设置", 132, PageKind::Parameters, nullptr, make<CPellCfgCntDlg>},
    {145, "串口设置", 132, PageKind::Parameters, nullptr, make<CPellCfgUartDlg>},
    {147, "存储设置", 132, PageKind::Parameters, nullptr, make<CPellCfgSaveDlg>},
    {149, "历史记录", 132, PageKind::Records, nullptr, make<CPellCfgRcdDlg>},
    {138, "短信设置", -1, PageKind::Parameters, nullptr, make<CPellCfgSmsDlg>},
    {139, "MODBUS设置", -1, PageKind::Parameters, nullptr, make<CPellCfgModbusDlg>},
};

// The configuration page is made before the pages it owns.
constexpr bool configPageComesFirst()
{
    bool config = false;
    for (const PageEntry& e : kPages) {
        if (e.kind == PageKind::Config)
            config = true;
        else if ((e.kind == PageKind::Parameters || e.kind == PageKind::Records) && !config)
            return false;
    }
    return config;
}
static_assert(configPageComesFirst());

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

QWidget* CreatePage(int templateId, QWidget* parent, const PageServices& services)
{
    const PageEntry* e = FindPageEntry(templateId);
    if (e == nullptr)
        return new DialogPage(templateId, parent);
    return e->createTool != nullptr ? e->createTool(parent, services) : nullptr;
}

QWidget* CreateSettingsPage(int templateId, QWidget* parent, PageRouter& router)
{
    const PageEntry* e = FindPageEntry(templateId);
    return e != nullptr && e->createSettings != nullptr ? e->createSettings(parent, router) : nullptr;
}

} // namespace pell::ui
