#include "pages/CPellCfgRcdDlg.h"

#include "ui/Gbk.h"
#include "ui/UiThread.h"

#include <QDate>
#include <QDateEdit>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

namespace pell::ui {

namespace {

struct Column {
    const char* heading;
    int width;
};
// Headings and widths in pixels.
const Column kColumns[kRecordColumns] = {
    {"序号", 40},      {"卡ID", 110},     {"当前用水量", 75}, {"当前用电量", 75}, {"取水时长", 60},
    {"取水单价", 60},  {"剩余水量", 60},  {"剩余金额", 60},   {"起始日期", 120},
};

} // namespace

CPellCfgRcdDlg::CPellCfgRcdDlg(PageRouter& router, QWidget* parent)
    : ParamPage(kTemplateId, router, parent),
      records_(std::make_shared<HistoryRecords>()),
      alive_(std::make_shared<bool>(true))
{
    list_ = ControlAs<QTreeWidget>(kListId);
    start_ = ControlAs<QDateEdit>(kStartId);
    end_ = ControlAs<QDateEdit>(kEndId);
    query_ = ControlAs<QPushButton>(kQueryId);
    save_ = ControlAs<QPushButton>(kSaveId);
    count_ = ControlAs<QLabel>(kCountId);
    Q_ASSERT(list_ && start_ && end_ && query_ && save_ && count_);

    // The nine columns, left-aligned.
    QStringList headings;
    for (const Column& c : kColumns)
        headings << QString::fromUtf8(c.heading);
    list_->setColumnCount(kRecordColumns);
    list_->setHeaderLabels(headings);
    list_->setUniformRowHeights(true);
    // The style's smallest section (wider than 40 pixels with some fonts
    // and styles, Windows among them) must not override the widths.
    list_->header()->setMinimumSectionSize(20);
    for (int i = 0; i < kRecordColumns; ++i) {
        list_->setColumnWidth(i, kColumns[i].width);
        list_->headerItem()->setTextAlignment(i, Qt::AlignLeft | Qt::AlignVCenter);
    }

    for (QDateEdit* picker : {start_, end_}) {
        picker->setDisplayFormat(QString::fromLatin1(kDateFormat));
        picker->setDate(QDate::currentDate());
    }

    connect(query_, &QPushButton::clicked, this, [this] { OnBnClickedQuery(); });
    connect(save_, &QPushButton::clicked, this, [this] { OnBnClickedSaveFile(); });

    // The worker hands over rows once per batch and learns nothing back;
    // the page shows them when the UI thread gets to it.
    const std::weak_ptr<bool> alive = alive_;
    records_->SetListeners(
        [this, alive](std::vector<RecordRow> rows, std::size_t total) {
            PostToUiThread([this, alive, rows = std::move(rows), total] {
                if (alive.lock())
                    addRows(rows, total);
            });
        },
        [this, alive] {
            PostToUiThread([this, alive] {
                if (alive.lock())
                    followQuery();
            });
        });
    showCount(0);
}

CPellCfgRcdDlg::~CPellCfgRcdDlg()
{
    records_->SetListeners(nullptr, nullptr);
    alive_.reset();
}

RequestText* CPellCfgRcdDlg::Request(RequestSlot slot)
{
    return slot == RequestSlot::Records ? &records_->request : nullptr;
}

bool CPellCfgRcdDlg::startQuery(const std::string& exportPath, const std::string& shownPath)
{
    if (records_->QueryRunning()) {
        ShowMessage(this, recordtext::kQueryRunning);
        return false;
    }
    list_->clear();
    showCount(0);
    const std::string start = ToGbk(start_->text());
    const std::string end = ToGbk(end_->text());
    // The buttons refuse from here until the worker has emptied the request.
    query_->setEnabled(false);
    save_->setEnabled(false);
    if (!records_->StartQuery(start, end, exportPath, shownPath)) {
        followQuery();
        ShowMessage(this, recordtext::kQueryRunning);
        return false;
    }
    return true;
}

void CPellCfgRcdDlg::OnBnClickedQuery()
{
    startQuery({}, {});
}

void CPellCfgRcdDlg::OnBnClickedSaveFile()
{
    if (records_->QueryRunning()) {
        ShowMessage(this, recordtext::kQueryRunning);
        return;
    }
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    dialog.selectFile(QStringLiteral("pell"));
    dialog.setNameFilters({QStringLiteral("excel文件(*.csv)"), QStringLiteral("所有文件(*.*)")});
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    SaveTo(dialog.selectedFiles().first());
}

void CPellCfgRcdDlg::SaveTo(const QString& path)
{
    const std::string nativePath = CorePath(path);
    const std::string shownPath = ToGbk(path);
    if (!records_->HasRecordText()) {
        // No query yet: one for the pickers' dates, written at its end.
        startQuery(nativePath, shownPath);
        return;
    }
    if (records_->QueryRunning()) {
        ShowMessage(this, recordtext::kQueryRunning);
        return;
    }
    std::string message;
    if (records_->WriteRecordFile(nativePath, shownPath, message))
        ShowMessage(this, recordtext::kSaved);
    else
        ShowMessage(this, message);
}

void CPellCfgRcdDlg::addRows(const std::vector<RecordRow>& rows, std::size_t total)
{
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(rows.size()));
    for (const RecordRow& row : rows) {
        QStringList cells;
        for (const std::string& field : row)
            cells << FromGbk(field);
        items << new QTreeWidgetItem(cells);
    }
    list_->addTopLevelItems(items);
    showCount(total);
}

void CPellCfgRcdDlg::showCount(std::size_t total)
{
    // "已收到 N 条"
    count_->setText(QStringLiteral("已收到 %1 条").arg(static_cast<qulonglong>(total)));
}

void CPellCfgRcdDlg::followQuery()
{
    const bool idle = !records_->QueryRunning();
    query_->setEnabled(idle);
    save_->setEnabled(idle);
}

} // namespace pell::ui
