// quillpost-db: creates and checks Quillpost databases (the program itself never
// creates one).
#include "DbTool.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    return RunDbTool(app.arguments().mid(1), out, err);
}
