// Fills the navigation tree from a large address book and prints how long the first
// fill and the rebuilds take. Run by hand: tree_fill_benchmark [users] [messages].

#include "data/QuillpostDoc.h"
#include "ui/QuillpostTreeView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <functional>

namespace {

// Runs `step`, lets the window catch up, and prints how long both took.
void measure(const char* what, const std::function<void()>& step)
{
    QElapsedTimer timer;
    timer.start();
    step();
    QApplication::processEvents();
    QTextStream(stdout) << what << ": " << timer.elapsed() << " ms\n";
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    const int users = argc > 1 ? QString(argv[1]).toInt() : 10000;
    const int messages = argc > 2 ? QString(argv[2]).toInt() : 50000;

    CQuillpostDoc doc;
    for (int i = 1; i <= users; ++i) {
        doc.m_users.push_back(std::make_unique<CUser>());
        doc.m_users.back()->m_id = i;
        doc.m_users.back()->m_name = QStringLiteral("User number %1").arg(i);
    }
    for (int i = 1; i <= messages; ++i) {
        doc.m_messages.push_back(std::make_unique<CSendJob>());
        doc.m_messages.back()->m_id = doc.m_messages.back()->m_messageId = i;
        doc.m_messages.back()->m_text = QStringLiteral("Message %1: call the duty desk").arg(i);
    }
    CQuillpostTreeView view(doc);
    view.resize(400, 700);
    view.show();
    QApplication::processEvents();
    QTextStream(stdout) << users << " users, " << messages << " messages\n";
    measure("first fill", [&] { view.EnsureFilled(); });
    measure("rebuild", [&] { view.RefreshTree(); });
    measure("rebuild with every category open", [&] {
        view.expandAll();
        view.RefreshTree();
    });
    return 0;
}
