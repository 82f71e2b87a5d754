#pragma once
// Windows laid out from their dialog templates (res/dialogs/<id>.dlg).
// Every control can be found by its control id; positions come from dialog
// units through DialogUnits, the one conversion.
#include "res/DialogTemplate.h"

#include <QFont>
#include <QMap>
#include <QRect>
#include <QWidget>

namespace pell::ui {

// Loads template <id> from the resources; aborts with a clear message when
// the template is missing or malformed (a build defect, not user input).
const DialogTemplate& LoadDialogTemplate(int templateId);

// Dialog units to pixels for a dialog font: a horizontal unit is a quarter
// of the font's average character width, a vertical unit an eighth of its
// height (the system dialog font's base units).
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    int x(int du) const;
    int y(int du) const;
    QRect rect(int x, int y, int w, int h) const;

private:
    int baseX_;
    int baseY_;
};

// The font a template asks for ("MS Shell Dlg" is the system's dialog font).
QFont DialogFont(const DialogTemplate& t);

// Builds the controls of a template into `host` and records them by id.
class DialogControls {
public:
    void Build(QWidget* host, const DialogTemplate& t);
    QWidget* Control(int id) const { return byId_.value(id, nullptr); }
    template <class T> T* ControlAs(int id) const { return qobject_cast<T*>(Control(id)); }
    // The static label whose text is `text` (labels have no id).
    QWidget* LabelWithText(const QString& text) const;
    const QList<QWidget*>& All() const { return all_; }

private:
    QMap<int, QWidget*> byId_;
    QList<QWidget*> all_;
};

// A page: a child window of the main window's page frame, built from its
// template. Page classes derive from it.
class DialogPage : public QWidget {
    Q_OBJECT
public:
    explicit DialogPage(int templateId, QWidget* parent = nullptr);
    int TemplateId() const { return templateId_; }
    QWidget* Control(int id) const { return controls_.Control(id); }
    template <class T> T* ControlAs(int id) const { return controls_.ControlAs<T>(id); }
    const DialogControls& Controls() const { return controls_; }
    const DialogUnits& Units() const { return units_; }

private:
    int templateId_;
    DialogUnits units_;
    DialogControls controls_;
};

// Message box with the caption "提示" (or the given one) and an OK button.
// Texts are GBK byte strings, as everywhere in the system.
void ShowMessage(QWidget* parent, const std::string& text, const std::string& caption = {});
// The same with a caption given as Qt text (captions of the tool itself).
void ShowMessageQ(QWidget* parent, const QString& text, const QString& caption);

// Tests see message boxes through this hook instead of a modal box; unset
// (nullptr) shows the box. Called on the UI thread.
using MessageHook = void (*)(const QString& text, const QString& caption);
void SetMessageHook(MessageHook hook);

// A question with the caption "提示" and the buttons yes and no (GBK text);
// true for yes. UI thread.
bool AskYesNo(QWidget* parent, const std::string& text);
// Tests answer the questions through this hook instead of a modal box;
// unset (nullptr) shows the box.
using QuestionHook = bool (*)(const QString& text, const QString& caption);
void SetQuestionHook(QuestionHook hook);

} // namespace pell::ui
