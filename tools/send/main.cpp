// quillpost-send: queues a page from a script or a monitoring system.
#include "SendTool.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream in(stdin);
    QTextStream out(stdout);
    QTextStream err(stderr);
    return RunSendTool(app.arguments().mid(1), in, out, err);
}
