// The dialog template parser on arbitrary template text: bad text gets a
// message that names its line, and a template it accepts, written out again
// in the template format, parses back to the same template.
#include "res/DialogTemplate.h"
#include "fuzz/FuzzCheck.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace {

using namespace pell;

std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

std::string write(const DialogTemplate& t)
{
    std::string out = "dialog " + std::to_string(t.id) + ' ' + std::to_string(t.width) + ' ' +
                      std::to_string(t.height) + " font " + quoted(t.fontName) + ' ' +
                      std::to_string(t.fontPoints) + " caption " + quoted(t.caption) + '\n';
    for (const ControlSpec& c : t.controls) {
        out += c.kind + ' ' + std::to_string(c.id) + ' ' + std::to_string(c.x) + ' ' +
               std::to_string(c.y) + ' ' + std::to_string(c.width) + ' ' +
               std::to_string(c.height) + ' ' + quoted(c.text);
        for (const std::string& f : c.flags)
            out += ' ' + f;
        out += '\n';
    }
    for (const auto& [id, list] : t.items) {
        out += "items " + std::to_string(id);
        for (const std::string& item : list)
            out += ' ' + quoted(item);
        out += '\n';
    }
    return out;
}

bool same(const DialogTemplate& a, const DialogTemplate& b)
{
    if (a.id != b.id || a.width != b.width || a.height != b.height || a.fontName != b.fontName ||
        a.fontPoints != b.fontPoints || a.caption != b.caption || a.items != b.items ||
        a.controls.size() != b.controls.size())
        return false;
    for (std::size_t i = 0; i < a.controls.size(); ++i) {
        const ControlSpec& x = a.controls[i];
        const ControlSpec& y = b.controls[i];
        if (x.kind != y.kind || x.id != y.id || x.x != y.x || x.y != y.y || x.width != y.width ||
            x.height != y.height || x.text != y.text || x.flags != y.flags)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    DialogTemplate parsed;
    std::string error;
    if (!ParseDialogTemplate(text, parsed, error)) {
        FUZZ_CHECK(error.rfind("line ", 0) == 0 || error == "no dialog line");
        return 0;
    }
    for (const ControlSpec& c : parsed.controls)
        if (c.id >= 0)
            FUZZ_CHECK(parsed.find(c.id) == &c);

    const std::string again = write(parsed);
    DialogTemplate reparsed;
    std::string why;
    FUZZ_CHECK(ParseDialogTemplate(again, reparsed, why));
    FUZZ_CHECK(same(parsed, reparsed));
    return 0;
}
