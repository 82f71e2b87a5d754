#include "ui/DialogPage.h"

#include "ui/Gbk.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTreeWidget>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

// Resources of a static library must be registered by name, outside any namespace.
static void initDialogResources()
{
    Q_INIT_RESOURCE(dialogs);
}

namespace pell::ui {

const DialogTemplate& LoadDialogTemplate(int templateId)
{
    static std::mutex m;
    static std::map<int, std::unique_ptr<DialogTemplate>> cache;
    std::lock_guard<std::mutex> lock(m);
    auto it = cache.find(templateId);
    if (it != cache.end())
        return *it->second;
    initDialogResources();
    QFile f(QStringLiteral(":/dialogs/%1.dlg").arg(templateId));
    if (!f.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "dialog template %d is missing from the resources\n", templateId);
        std::abort();
    }
    QByteArray text = f.readAll();
    auto t = std::make_unique<DialogTemplate>();
    std::string error;
    if (!ParseDialogTemplate(std::string_view(text.constData(), static_cast<std::size_t>(text.size())),
                             *t, error)) {
        std::fprintf(stderr, "dialog template %d: %s\n", templateId, error.c_str());
        std::abort();
    }
    return *cache.emplace(templateId, std::move(t)).first->second;
}

DialogUnits::DialogUnits(const QFont& font)
{
    // The dialog base units of the system dialog font at 96 dpi, in logical
    // pixels: the templates were laid out against these, and the pages (8
    // points) fit the main window's page frame (9 points) only with these
    // proportions. Measuring the local font instead rounds 8 and 9 points to
    // the same width on common Linux fonts and the pages overflow the frame.
    const int points = font.pointSize() > 0 ? font.pointSize() : 8;
    if (points <= 8) {
        baseX_ = 6;
        baseY_ = 13;
    } else if (points == 9) {
        baseX_ = 7;
        baseY_ = 15;
    } else {
        baseX_ = (points * 3 + 2) / 4;
        baseY_ = (points * 13 + 4) / 8;
    }
}

int DialogUnits::x(int du) const { return (du * baseX_ + 2) / 4; }
int DialogUnits::y(int du) const { return (du * baseY_ + 4) / 8; }

QRect DialogUnits::rect(int x0, int y0, int w, int h) const
{
    return QRect(x(x0), y(y0), x(w), y(h));
}

QFont DialogFont(const DialogTemplate& t)
{
    QFont font; // the platform's dialog font stands in for "MS Shell Dlg"
    font.setPointSize(t.fontPoints > 0 ? t.fontPoints : 9);
    return font;
}

namespace {

QString utf8(const std::string& s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QWidget* makeControl(const ControlSpec& c, QWidget* host, const DialogTemplate& t)
{
    const QString text = utf8(c.text);
    if (c.kind == "static")
        return new QLabel(text, host);
    if (c.kind == "edit") {
        if (c.hasFlag("multiline")) {
            auto* e = new QPlainTextEdit(host);
            e->setPlainText(text);
            e->setReadOnly(c.hasFlag("readonly"));
            e->setVerticalScrollBarPolicy(c.hasFlag("vscroll") ? Qt::ScrollBarAsNeeded
                                                                : Qt::ScrollBarAlwaysOff);
            e->setLineWrapMode(c.hasFlag("hscroll") ? QPlainTextEdit::NoWrap
                                                    : QPlainTextEdit::WidgetWidth);
            return e;
        }
        auto* e = new QLineEdit(text, host);
        e->setReadOnly(c.hasFlag("readonly"));
        if (c.hasFlag("password"))
            e->setEchoMode(QLineEdit::Password);
        if (c.hasFlag("number"))
            e->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), e));
        return e;
    }
    if (c.kind == "button") {
        auto* b = new QPushButton(text, host);
        b->setAutoDefault(false);
        b->setDefault(c.hasFlag("default"));
        return b;
    }
    if (c.kind == "check")
        return new QCheckBox(text, host);
    if (c.kind == "radio")
        return new QRadioButton(text, host);
    if (c.kind == "combo") {
        auto* cb = new QComboBox(host);
        cb->setEditable(!c.hasFlag("droplist"));
        cb->setInsertPolicy(QComboBox::NoInsert);
        auto it = t.items.find(c.id);
        if (it != t.items.end())
            for (const auto& item : it->second)
                cb->addItem(utf8(item));
        if (cb->isEditable())
            cb->setCurrentIndex(-1), cb->setEditText(QString());
        return cb;
    }
    if (c.kind == "group")
        return new QGroupBox(text, host);
    if (c.kind == "tree") {
        auto* tree = new QTreeWidget(host);
        tree->setHeaderHidden(true);
        tree->setRootIsDecorated(true);
        return tree;
    }
    if (c.kind == "list") {
        auto* list = new QTreeWidget(host);
        list->setRootIsDecorated(false);
        list->setAllColumnsShowFocus(true);
        return list;
    }
    if (c.kind == "progress") {
        auto* p = new QProgressBar(host);
        p->setTextVisible(false);
        return p;
    }
    if (c.kind == "date") {
        auto* d = new QDateEdit(host);
        d->setCalendarPopup(true);
        return d;
    }
    if (c.kind == "time")
        return new QTimeEdit(host);
    auto* dt = new QDateTimeEdit(host); // datetime
    dt->setCalendarPopup(true);
    return dt;
}

} // namespace

void DialogControls::Build(QWidget* host, const DialogTemplate& t)
{
    DialogUnits du(host->font());
    QLabel* pendingLabel = nullptr;
    QList<QWidget*> groups;
    for (const auto& c : t.controls) {
        QWidget* w = makeControl(c, host, t);
        QRect r = du.rect(c.x, c.y, c.width, c.height);
        if (c.kind == "combo") {
            // The template height is the dropped-down list; the box itself
            // is one edit line high.
            r.setHeight(std::min(r.height(), du.y(12)));
        }
        w->setGeometry(r);
        w->setProperty("controlId", c.id);
        if (c.id >= 0) {
            w->setObjectName(QStringLiteral("ctl%1").arg(c.id));
            byId_.insert(c.id, w);
        }
        if (c.hasFlag("hidden"))
            w->hide();
        if (c.hasFlag("disabled"))
            w->setEnabled(false);
        // A label names the control that follows it. No control gets a
        // fixed accessible name: a button or box is named by its caption as
        // it is at the time, an edit or list by its buddy label (the label
        // relation), so a caption changed later is what a reader hears.
        if (auto* label = qobject_cast<QLabel*>(w)) {
            pendingLabel = label;
        } else {
            if (pendingLabel && c.kind != "group")
                pendingLabel->setBuddy(w);
            pendingLabel = nullptr;
        }
        if (c.kind == "group")
            groups.append(w);
        all_.append(w);
    }
    for (QWidget* g : groups)
        g->lower(); // frames stay behind the controls they surround

    // Tab order: top to bottom, then left to right.
    QList<QWidget*> order;
    for (QWidget* w : all_)
        if (w->focusPolicy() != Qt::NoFocus)
            order.append(w);
    std::stable_sort(order.begin(), order.end(), [](QWidget* a, QWidget* b) {
        if (a->y() != b->y())
            return a->y() < b->y();
        return a->x() < b->x();
    });
    for (int i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

QWidget* DialogControls::LabelWithText(const QString& text) const
{
    for (QWidget* w : all_)
        if (auto* l = qobject_cast<QLabel*>(w); l && l->text() == text)
            return l;
    return nullptr;
}

DialogPage::DialogPage(int templateId, QWidget* parent)
    : QWidget(parent), templateId_(templateId),
      units_(DialogFont(LoadDialogTemplate(templateId)))
{
    const DialogTemplate& t = LoadDialogTemplate(templateId);
    setFont(DialogFont(t));
    setObjectName(QStringLiteral("page%1").arg(templateId));
    controls_.Build(this, t);
    resize(units_.x(t.width), units_.y(t.height));
}

namespace {
std::atomic<MessageHook> g_messageHook{nullptr};
std::atomic<QuestionHook> g_questionHook{nullptr};
}

void SetQuestionHook(QuestionHook hook)
{
    g_questionHook.store(hook);
}

bool AskYesNo(QWidget* parent, const std::string& text)
{
    const QString caption = QStringLiteral("提示");
    if (QuestionHook hook = g_questionHook.load())
        return hook(FromGbk(text), caption);
    QMessageBox box(QMessageBox::Question, caption, FromGbk(text), QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void SetMessageHook(MessageHook hook)
{
    g_messageHook.store(hook);
}

void ShowMessageQ(QWidget* parent, const QString& text, const QString& caption)
{
    if (MessageHook hook = g_messageHook.load()) {
        hook(text, caption);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
    box.exec();
}

void ShowMessage(QWidget* parent, const std::string& text, const std::string& caption)
{
    ShowMessageQ(parent, FromGbk(text), caption.empty() ? QStringLiteral("提示") : FromGbk(caption));
}

} // namespace pell::ui
