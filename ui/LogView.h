#pragma once
// The edit that shows a page log. The log (common/PageLog) keeps the whole
// text and hands the window only what it has not shown yet; the view adds
// that at the end of the edit and keeps the last line in sight, so a line
// costs the same however long the log has grown. UI thread only.
//
// Line ends: the log's lines end in CR LF, and what a line quotes from the
// controller may hold a lone CR or LF. A CR LF, a lone CR and a lone LF are
// each one line break, also when a CR LF is split between two additions;
// the edit shows the same as if the whole text were put into it at once.
#include "common/PageLog.h"

#include <QString>

#include <string>
#include <string_view>

class QPlainTextEdit;

namespace pell::ui {

class LogView {
public:
    // `edit` may be null (a template without the log): the view shows nothing.
    explicit LogView(QPlainTextEdit* edit);

    // Puts the whole log text into the edit, replacing what it showed.
    void ShowWhole(std::string_view gbk);
    // What the log had not shown yet: the edit is emptied first when the
    // log was, then the new lines go at its end.
    void Show(const PageLog::Change& change);
    // Empties the edit.
    void Clear();

    // GBK log text as the edit takes it: every line end one '\n'. `afterCr`:
    // the text continues one that ended in CR, so a leading LF is its end.
    static QString ForEdit(std::string_view gbk, bool afterCr = false);

private:
    void scrollToEnd();

    QPlainTextEdit* edit_;
    bool endsInCr_ = false; // the last text added ended in a CR
};

} // namespace pell::ui
