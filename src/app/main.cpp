#include "app/HeadlessRun.h"
#include "app/MessageBoxPrompt.h"
#include "app/ProgramOptions.h"
#include "app/QuillpostApp.h"
#include "platform/db/DaoRecordset.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

bool asksForHeadless(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--headless") == 0)
            return true;
    return false;
}

// Applies the options; an exit status when the program is to end at once.
std::optional<int> takeOptions(const ProgramOptions& options)
{
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "quillpost: %s\n\n%s", qPrintable(options.error),
            qPrintable(ProgramUsage()));
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(qPrintable(ProgramUsage()), stdout);
        return 0;
    }
    if (!options.database.isEmpty())
        CDaoRecordset::SetDefaultDatabaseName(options.database);
    return std::nullopt;
}

} // namespace

int main(int argc, char* argv[])
{
    // A dispatcher without a window must run where there is no display at all.
    if (asksForHeadless(argc, argv)) {
        QCoreApplication application(argc, argv);
        const ProgramOptions options = ParseProgramOptions(application.arguments().mid(1));
        if (const std::optional<int> status = takeOptions(options))
            return *status;
        return RunHeadlessDispatcher(options);
    }
    QApplication application(argc, argv);
    const ProgramOptions options = ParseProgramOptions(application.arguments().mid(1));
    if (const std::optional<int> status = takeOptions(options))
        return *status;
    CQuillpostApp app;
    MessageBoxPrompt prompt([&app]() -> QWidget* { return app.MainFrame(); });
    if (!app.InitInstance())
        return 1;
    return application.exec();
}
