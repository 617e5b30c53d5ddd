#include "app/MessageBoxPrompt.h"
#include "app/QuillpostApp.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    CQuillpostApp app;
    MessageBoxPrompt prompt([&app]() -> QWidget* { return app.MainFrame(); });
    if (!app.InitInstance())
        return 1;
    return application.exec();
}
