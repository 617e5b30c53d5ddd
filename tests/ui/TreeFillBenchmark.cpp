// Fills the navigation tree from a large address book and prints how long the first
// fill and a rebuild take. Run by hand: tree_fill_benchmark [users] [messages].

#include "data/QuillpostDoc.h"
#include "ui/QuillpostTreeView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <algorithm>

namespace {

void fillDocument(CQuillpostDoc& doc, int users, int messages)
{
    for (int i = 0; i < users; ++i) {
        auto user = std::make_unique<CUser>();
        user->m_id = i + 1;
        user->m_name = QStringLiteral("User number %1").arg(i + 1);
        doc.m_users.push_back(std::move(user));
    }
    for (int i = 0; i < 50; ++i) {
        auto group = std::make_unique<CGroup>();
        group->m_id = i + 1;
        group->m_name = QStringLiteral("Group %1").arg(i + 1);
        doc.m_groups.push_back(std::move(group));
    }
    for (int i = 0; i < 5; ++i) {
        auto provider = std::make_unique<CServiceProvider>();
        provider->m_id = i + 1;
        provider->m_serviceName = QStringLiteral("Provider %1").arg(i + 1);
        doc.m_providers.push_back(std::move(provider));
    }
    for (int i = 0; i < messages; ++i) {
        auto job = std::make_unique<CSendJob>();
        job->m_id = i + 1;
        job->m_messageId = i + 1;
        job->m_text = QStringLiteral("Message %1: please call the duty desk at once").arg(i + 1);
        auto entry = std::make_unique<CRecipientEntry>();
        entry->m_messageId = i + 1;
        entry->m_recipient = (i % std::max(users, 1)) + 1;
        job->m_recipients.push_back(std::move(entry));
        doc.m_messages.push_back(std::move(job));
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    const int users = argc > 1 ? QString(argv[1]).toInt() : 10000;
    const int messages = argc > 2 ? QString(argv[2]).toInt() : 50000;

    CQuillpostDoc doc;
    fillDocument(doc, users, messages);
    CQuillpostTreeView view(doc);
    view.resize(400, 700);
    view.show();
    QApplication::processEvents();

    QTextStream out(stdout);
    QElapsedTimer timer;

    timer.start();
    view.EnsureFilled();
    QApplication::processEvents();
    out << "first fill of " << users << " users and " << messages
        << " messages: " << timer.elapsed() << " ms\n";

    for (int round = 1; round <= 3; ++round) {
        timer.restart();
        view.RefreshTree();
        QApplication::processEvents();
        out << "rebuild " << round << ": " << timer.elapsed() << " ms\n";
    }

    timer.restart();
    view.topLevelItem(3)->setExpanded(true);
    view.scrollToBottom();
    view.repaint();
    QApplication::processEvents();
    out << "opening the Messages category and scrolling to its end: " << timer.elapsed() << " ms\n";

    view.expandAll();
    timer.restart();
    view.RefreshTree();
    QApplication::processEvents();
    out << "rebuild with every category open before: " << timer.elapsed() << " ms\n";

    timer.restart();
    view.ClearItemRecords();
    view.clear();
    QApplication::processEvents();
    out << "clearing the tree: " << timer.elapsed() << " ms\n";
    return 0;
}
