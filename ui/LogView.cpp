#include "ui/LogView.h"

#include "ui/Gbk.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>

namespace pell::ui {

LogView::LogView(QPlainTextEdit* edit) : edit_(edit) {}

QString LogView::ForEdit(std::string_view gbk, bool afterCr)
{
    const QString text = FromGbk(gbk);
    QString out;
    out.reserve(text.size());
    bool cr = afterCr;
    for (QChar c : text) {
        if (c == QLatin1Char('\n') && cr) {
            cr = false; // the LF of a CR LF: its CR made the break
            continue;
        }
        cr = c == QLatin1Char('\r');
        out += cr ? QChar(QLatin1Char('\n')) : c;
    }
    return out;
}

void LogView::ShowWhole(std::string_view gbk)
{
    if (edit_ == nullptr)
        return;
    edit_->setPlainText(ForEdit(gbk));
    endsInCr_ = !gbk.empty() && gbk.back() == '\r';
    scrollToEnd();
}

void LogView::Show(const PageLog::Change& change)
{
    if (edit_ == nullptr || change.empty())
        return;
    if (change.cleared)
        Clear();
    if (!change.added.empty()) {
        QTextCursor end(edit_->document());
        end.movePosition(QTextCursor::End);
        end.insertText(ForEdit(change.added, endsInCr_));
        endsInCr_ = change.added.back() == '\r';
    }
    scrollToEnd();
}

void LogView::Clear()
{
    if (edit_ != nullptr)
        edit_->clear();
    endsInCr_ = false;
}

void LogView::scrollToEnd()
{
    QScrollBar* bar = edit_->verticalScrollBar();
    bar->setValue(bar->maximum());
}

} // namespace pell::ui
