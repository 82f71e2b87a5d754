// Takes a picture of every page of the main window after a read-back from
// the simulated controller, and checks that each page fits its frame: no
// control reaches past the page, no caption is wider than its control.
//
//   page_shots OUTPUT_FOLDER [--port PORT [--edit]]
//
// Run it on a real (virtual) screen so fonts render as on a desktop:
// scripts/screenshots does that under Xvfb. Without --port it plays the
// controller itself (a simulator in the process); with --port it talks to
// a controller on that port (on Windows, under Wine, a COM port with the
// simulator behind it: scripts/test-windows). --edit then changes one
// value (the administrator's number) and saves the parameters, so that
// the far end can check exactly one command went out. Exit status 1 when
// something is clipped (the lines name page and control), 2 when the
// read-back or the save fails.
#include "app/CPellToolDlg.h"
#include "app/PageRegistry.h"
#include "config/CPellCfgDlg.h"
#include "protocol/CommandEngine.h"
#include "serial/CSerial.h"
#include "config/ConfigTexts.h"
#include "ui/DialogPage.h"
#ifndef _WIN32
#include "sim/Simulator.h"
#endif

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>

using namespace pell;
using namespace pell::ui;

namespace {

bool waitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

void settle()
{
    waitFor([] { return false; }, 300);
}

// Controls that reach past the page or captions that do not fit.
int clipped(int templateId, QWidget* page)
{
    int n = 0;
    const QRect frame(QPoint(0, 0), page->size());
    for (QWidget* w : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!w->isVisibleTo(page))
            continue;
        const QString name = w->objectName();
        if (!frame.contains(w->geometry())) {
            std::printf("page %d: %s reaches past the page\n", templateId, qPrintable(name));
            ++n;
        }
        // A label needs its size hint; a push button its caption plus a
        // small margin (its size hint holds the style's minimum width).
        QString text;
        int needed = 0;
        if (auto* l = qobject_cast<QLabel*>(w)) {
            text = l->text();
            needed = l->sizeHint().width();
        } else if (auto* pb = qobject_cast<QPushButton*>(w)) {
            text = pb->text();
            needed = pb->fontMetrics().horizontalAdvance(text) + 8;
        } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            text = b->text();
            needed = b->sizeHint().width();
        }
        if (!text.isEmpty() && needed > w->width() + 1) {
            std::printf("page %d: %s \"%s\" needs %d pixels, has %d\n", templateId, qPrintable(name),
                        qPrintable(text), needed, w->width());
            ++n;
        }
    }
    return n;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QString out;
    std::string path;
    bool edit = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc)
            path = argv[++i];
        else if (arg == "--edit")
            edit = true;
        else if (out.isEmpty() && !arg.empty() && arg[0] != '-')
            out = QString::fromLocal8Bit(argv[i]);
        else
            out.clear(), i = argc;
    }
    if (out.isEmpty() || (edit && path.empty())) {
        std::fprintf(stderr, "usage: page_shots OUTPUT_FOLDER [--port PORT [--edit]]\n");
        return 2;
    }
    QDir().mkpath(out);

#ifndef _WIN32
    std::unique_ptr<sim::Simulator> device;
    if (path.empty()) {
        sim::Options options;
        options.loaderWindowMs = 100;
        options.restartDelayMs = 10;
        device = std::make_unique<sim::Simulator>(options);
        if (!device->Start()) {
            std::fprintf(stderr, "page_shots: the simulated controller did not start\n");
            return 2;
        }
        path = device->PortPath();
    }
#else
    if (path.empty()) {
        std::fprintf(stderr, "page_shots: name the controller's port with --port\n");
        return 2;
    }
#endif
    CSerial port;
    CommandEngine engine(port, systemClock());
    CPellToolDlg window(PageServices{port, engine, systemClock()},
                        [path] { return std::vector<std::string>{path}; });
    if (!window.OnInitDialog())
        return 2;
    window.show();

    // Read back: reload, power the controller up (the simulator of the
    // process; one on a port powers up on the tool's handshake), wait for
    // the job's end.
    auto* config = qobject_cast<CPellCfgDlg*>(window.Page(132));
    config->Button(1030)->click();
#ifndef _WIN32
    if (device)
        device->PowerOn();
#endif
    const bool loaded = waitFor([&] {
        return config->Log().Text().find(configtext::kLoadOk) != std::string::npos &&
               config->JobState() == kJobIdle;
    }, 60000);
    if (!loaded) {
        std::fprintf(stderr, "page_shots: the read-back did not end\n");
        return 2;
    }

    int bad = 0;
    const auto pages = PageRegistry();
    for (const PageEntry& entry : pages) {
        const int id = entry.templateId;
        QWidget* page = window.Page(id);
        if (!page)
            continue;
        // Through the tree where the page has an item (the title follows),
        // else shown in the frame by hand.
        auto items = window.Tree()->findItems(QString::fromUtf8(entry.caption),
                                              Qt::MatchExactly | Qt::MatchRecursive);
        if (entry.InTree() && !items.isEmpty()) {
            window.Tree()->setCurrentItem(items.first());
        } else {
            window.Tree()->setCurrentItem(nullptr);
            for (const PageEntry& other : pages)
                if (QWidget* p = window.Page(other.templateId))
                    p->setVisible(other.templateId == id);
        }
        settle();
        window.grab().save(out + QStringLiteral("/page%1.png").arg(id));
        bad += clipped(id, page);
    }
    std::printf("page_shots: %d pages in %s, %d clipped\n", static_cast<int>(pages.size()),
                qPrintable(out), bad);

    if (edit) {
        // One edit on the basic page, then "保存参数": only that value goes out.
        auto* basic = dynamic_cast<DialogPage*>(window.Page(133));
        auto* admin = basic ? basic->ControlAs<QLineEdit>(1054) : nullptr;
        if (!admin) {
            std::fprintf(stderr, "page_shots: no administrator's number on the basic page\n");
            return 2;
        }
        // Where a user clicks for it, in the window's coordinates, for a
        // script that drives the program itself with the same fonts.
        const auto at = [&](const char* what, const QWidget* w, QPoint centre) {
            const QPoint p = w->mapTo(&window, centre);
            std::printf("page_shots: %s at %d %d\n", what, p.x(), p.y());
        };
        for (const char* item : {"参数配置", "基本设置"}) {
            auto found = window.Tree()->findItems(QString::fromUtf8(item), Qt::MatchExactly | Qt::MatchRecursive);
            if (!found.isEmpty())
                at(item, window.Tree()->viewport(), window.Tree()->visualItemRect(found.first()).center());
        }
        at("1030", config->Button(1030), config->Button(1030)->rect().center());
        at("1031", config->Button(1031), config->Button(1031)->rect().center());
        at("1054", admin, admin->rect().center());
        admin->setText(QStringLiteral("13912340000"));
        const std::size_t before = config->Log().Text().size();
        config->Button(1031)->click();
        const bool saved = waitFor([&] {
            return config->Log().Text().find(configtext::kSetOk, before) != std::string::npos &&
                   config->JobState() == kJobIdle;
        }, 60000);
        if (!saved) {
            std::fprintf(stderr, "page_shots: the save did not confirm\n");
            return 2;
        }
        std::printf("page_shots: one edit saved\n");
    }
#ifndef _WIN32
    if (device)
        device->Stop();
#endif
    return bad == 0 ? 0 : 1;
}
