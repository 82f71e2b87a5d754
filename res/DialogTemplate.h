#pragma once
// Dialog templates: every window of the tool is laid out from a small text
// table in res/dialogs/<id>.dlg, one control per line, positions in dialog
// units as the Windows resource editor gives them:
//
//   dialog <id> <width> <height> [font "<name>" <points>] [caption "<text>"]
//   <kind> <control id or -1> <x> <y> <width> <height> ["<text>"] [flags...]
//   items <control id> "<item>" "<item>" ...
//
// kinds: static edit button check radio combo group tree list progress
//        datetime date time; flags: readonly multiline vscroll hscroll
//        password number hidden disabled droplist default.
// Lines starting with '#' are comments. Texts are UTF-8 with \" and \\.
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace pell {

struct ControlSpec {
    std::string kind;
    int id = -1;
    int x = 0, y = 0, width = 0, height = 0;
    std::string text;
    std::vector<std::string> flags;
    bool hasFlag(std::string_view f) const;
};

struct DialogTemplate {
    int id = 0;
    int width = 0, height = 0;
    std::string fontName = "MS Shell Dlg";
    int fontPoints = 8;
    std::string caption;
    std::vector<ControlSpec> controls;           // in template order
    std::map<int, std::vector<std::string>> items; // combo items by control id
    const ControlSpec* find(int controlId) const;
};

// Parses a template; false with a message naming the line on bad input.
bool ParseDialogTemplate(std::string_view text, DialogTemplate& out, std::string& error);

} // namespace pell
