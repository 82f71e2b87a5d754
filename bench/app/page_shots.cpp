// Takes a picture of every page of the main window after a read-back from
// the simulated controller, and checks that each page fits its frame: no
// control reaches past the page, no caption is wider than its control.
//
//   page_shots OUTPUT_FOLDER
//
// Run it on a real (virtual) screen so fonts render as on a desktop:
// scripts/screenshots does that under Xvfb. Exit status 1 when something
// is clipped (the lines name page and control), 2 when the read-back fails.
#include "app/CPellToolDlg.h"
#include "config/CPellCfgDlg.h"
#include "config/ConfigTexts.h"
#include "sim/Simulator.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>

#include <cstdio>
#include <functional>
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

// The tree item of a page; the SMS and Modbus pages have none.
const char* treeName(int templateId)
{
    static const std::pair<int, const char*> names[] = {
        {129, "下载工具"}, {135, "调试工具"}, {132, "参数配置"}, {133, "基本设置"}, {134, "网络设置"},
        {141, "水电设置"}, {142, "输入接口设置"}, {143, "继电器设置"}, {144, "计数器设置"},
        {145, "串口设置"}, {147, "存储设置"}, {149, "历史记录"}};
    for (const auto& [id, name] : names)
        if (id == templateId)
            return name;
    return "";
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: page_shots OUTPUT_FOLDER\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);

    sim::Options options;
    options.loaderWindowMs = 100;
    options.restartDelayMs = 10;
    sim::Simulator device(options);
    if (!device.Start()) {
        std::fprintf(stderr, "page_shots: the simulated controller did not start\n");
        return 2;
    }
    const std::string path = device.PortPath();
    CPellToolDlg window([path] { return std::vector<std::string>{path}; });
    if (!window.OnInitDialog())
        return 2;
    window.show();

    // Read back: reload, power the controller up, wait for the job's end.
    auto* config = qobject_cast<CPellCfgDlg*>(window.Page(132));
    config->Button(1030)->click();
    device.PowerOn();
    const bool loaded = waitFor([&] {
        return config->Log().Text().find(configtext::kLoadOk) != std::string::npos &&
               config->JobState() == kJobIdle;
    }, 60000);
    if (!loaded) {
        std::fprintf(stderr, "page_shots: the read-back did not end\n");
        return 2;
    }

    int bad = 0;
    const int pages[] = {129, 135, 132, 133, 134, 141, 142, 143, 144, 145, 147, 149, 138, 139};
    for (int id : pages) {
        QWidget* page = window.Page(id);
        if (!page)
            continue;
        // Through the tree where the page has an item (the title follows),
        // else shown in the frame by hand.
        const QString name = QString::fromUtf8(treeName(id));
        auto items = window.Tree()->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
        if (!name.isEmpty() && !items.isEmpty()) {
            window.Tree()->setCurrentItem(items.first());
        } else {
            window.Tree()->setCurrentItem(nullptr);
            for (int other : pages)
                if (QWidget* p = window.Page(other))
                    p->setVisible(other == id);
        }
        settle();
        window.grab().save(out + QStringLiteral("/page%1.png").arg(id));
        bad += clipped(id, page);
    }
    std::printf("page_shots: %d pages in %s, %d clipped\n", static_cast<int>(std::size(pages)),
                qPrintable(out), bad);
    device.Stop();
    return bad == 0 ? 0 : 1;
}
