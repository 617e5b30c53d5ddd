#include "app/MessageBoxPrompt.h"
#include "app/QuillpostApp.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    MessageBoxPrompt prompt;
    CQuillpostApp app;
    if (!app.InitInstance())
        return 1;
    return application.exec();
}
