#pragma once
// The history records page (template 149): the record list, the dates of a
// query, "开始查询" and "保存文件", and the count of records received. The
// query, its records and the export live in HistoryRecords (core); the
// configuration worker's job 13 reads the controller's batches into it,
// and the page shows each batch's rows when the worker hands them over.
//
// The date pickers show the fixed form yyyy/M/d, so the query the
// controller reads is the same on every PC whatever its locale.
#include "pages/HistoryRecords.h"
#include "pages/ParamPage.h"

#include <QString>

#include <memory>

class QDateEdit;
class QLabel;
class QPushButton;
class QTreeWidget;

namespace pell::ui {

class CPellCfgRcdDlg : public ParamPage {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 149;
    static constexpr int kListId = 1175;
    static constexpr int kStartId = 1176;
    static constexpr int kEndId = 1103;
    static constexpr int kQueryId = 1177;
    static constexpr int kSaveId = 1178;
    static constexpr int kCountId = 1179;
    // The pickers' form, what the query carries.
    static constexpr const char* kDateFormat = "yyyy/M/d";

    explicit CPellCfgRcdDlg(PageRouter& router, QWidget* parent = nullptr);
    ~CPellCfgRcdDlg() override;

    // The query request (job 13).
    RequestText* Request(RequestSlot slot) override;
    std::shared_ptr<HistoryRecords> OfferedRecords() const override { return records_; }

    // "开始查询": empties the list and asks the worker for the records of
    // the pickers' dates. Refused with a note while a query runs.
    void OnBnClickedQuery();
    // "保存文件": asks for a path, then SaveTo.
    void OnBnClickedSaveFile();
    // Writes the records of the last query to `path`, or, when no query was
    // started yet, starts one that writes the file at its end.
    void SaveTo(const QString& path);

    HistoryRecords& Records() const { return *records_; }
    QTreeWidget* List() const { return list_; }
    QDateEdit* StartDate() const { return start_; }
    QDateEdit* EndDate() const { return end_; }
    QPushButton* QueryButton() const { return query_; }
    QPushButton* SaveButton() const { return save_; }
    QLabel* CountLabel() const { return count_; }

private:
    // Starts a query (the list emptied first); false while one runs.
    bool startQuery(const std::string& exportPath, const std::string& shownPath);
    void addRows(const std::vector<RecordRow>& rows, std::size_t total);
    void showCount(std::size_t total);
    // The buttons refuse while a query is pending or running.
    void followQuery();

    std::shared_ptr<HistoryRecords> records_;
    // Posted calls from the worker run only while the page lives (both
    // checked and destroyed on the UI thread).
    std::shared_ptr<bool> alive_;
    QTreeWidget* list_ = nullptr;
    QDateEdit* start_ = nullptr;
    QDateEdit* end_ = nullptr;
    QPushButton* query_ = nullptr;
    QPushButton* save_ = nullptr;
    QLabel* count_ = nullptr;
};

} // namespace pell::ui
