#include "res/DialogTemplate.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace pell {

bool ControlSpec::hasFlag(std::string_view f) const
{
    return std::find(flags.begin(), flags.end(), f) != flags.end();
}

const ControlSpec* DialogTemplate::find(int controlId) const
{
    for (const auto& c : controls)
        if (c.id == controlId)
            return &c;
    return nullptr;
}

namespace {

struct Token {
    std::string text;
    bool quoted = false;
};

bool tokenize(std::string_view line, std::vector<Token>& out, std::string& error)
{
    std::size_t i = 0;
    while (i < line.size()) {
        unsigned char c = line[i];
        if (std::isspace(c)) {
            ++i;
            continue;
        }
        Token t;
        if (c == '"') {
            t.quoted = true;
            ++i;
            bool closed = false;
            while (i < line.size()) {
                char d = line[i++];
                if (d == '\\' && i < line.size()) {
                    t.text += line[i++];
                } else if (d == '"') {
                    closed = true;
                    break;
                } else {
                    t.text += d;
                }
            }
            if (!closed) {
                error = "unterminated text";
                return false;
            }
        } else {
            while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])))
                t.text += line[i++];
        }
        out.push_back(std::move(t));
    }
    return true;
}

bool toInt(const Token& t, int& v)
{
    if (t.quoted)
        return false;
    const char* b = t.text.data();
    const char* e = b + t.text.size();
    auto r = std::from_chars(b, e, v);
    return r.ec == std::errc() && r.ptr == e;
}

} // namespace

bool ParseDialogTemplate(std::string_view text, DialogTemplate& out, std::string& error)
{
    out = DialogTemplate{};
    bool haveHeader = false;
    int lineNo = 0;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        auto fail = [&](const std::string& why) {
            error = "line " + std::to_string(lineNo) + ": " + why;
            return false;
        };
        std::vector<Token> tok;
        std::string why;
        if (!tokenize(line, tok, why))
            return fail(why);
        if (tok.empty() || (!tok[0].quoted && tok[0].text[0] == '#'))
            continue;
        const std::string& kind = tok[0].text;
        if (kind == "dialog") {
            if (tok.size() < 4 || !toInt(tok[1], out.id) || !toInt(tok[2], out.width) ||
                !toInt(tok[3], out.height))
                return fail("dialog needs an id, a width and a height");
            for (std::size_t k = 4; k < tok.size(); ++k) {
                if (tok[k].text == "font" && k + 2 < tok.size() && toInt(tok[k + 2], out.fontPoints)) {
                    out.fontName = tok[k + 1].text;
                    k += 2;
                } else if (tok[k].text == "caption" && k + 1 < tok.size() && tok[k + 1].quoted) {
                    out.caption = tok[k + 1].text;
                    ++k;
                } else {
                    return fail("unknown dialog attribute " + tok[k].text);
                }
            }
            haveHeader = true;
            continue;
        }
        if (!haveHeader)
            return fail("the dialog line must come first");
        if (kind == "items") {
            int id = 0;
            if (tok.size() < 2 || !toInt(tok[1], id))
                return fail("items needs a control id");
            auto& list = out.items[id];
            for (std::size_t k = 2; k < tok.size(); ++k) {
                if (!tok[k].quoted)
                    return fail("items are quoted texts");
                list.push_back(tok[k].text);
            }
            continue;
        }
        static const char* const kinds[] = {"static", "edit", "button", "check", "radio",
                                            "combo", "group", "tree", "list", "progress",
                                            "datetime", "date", "time"};
        if (std::find_if(std::begin(kinds), std::end(kinds),
                         [&](const char* k) { return kind == k; }) == std::end(kinds))
            return fail("unknown control kind " + kind);
        ControlSpec c;
        c.kind = kind;
        if (tok.size() < 6 || !toInt(tok[1], c.id) || !toInt(tok[2], c.x) || !toInt(tok[3], c.y) ||
            !toInt(tok[4], c.width) || !toInt(tok[5], c.height))
            return fail(kind + " needs an id and x, y, width, height");
        std::size_t k = 6;
        if (k < tok.size() && tok[k].quoted)
            c.text = tok[k++].text;
        for (; k < tok.size(); ++k) {
            if (tok[k].quoted)
                return fail("unexpected text after the flags");
            c.flags.push_back(tok[k].text);
        }
        if (c.id >= 0 && out.find(c.id))
            return fail("control id " + std::to_string(c.id) + " used twice");
        out.controls.push_back(std::move(c));
    }
    if (!haveHeader) {
        error = "no dialog line";
        return false;
    }
    return true;
}

} // namespace pell
