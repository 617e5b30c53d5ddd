#include "app/HeadlessRun.h"
#include "app/MessageBoxPrompt.h"
#include "app/ProgramOptions.h"
#include "app/QuillpostApp.h"
#include "platform/db/DaoRecordset.h"
#include "res/MenuResources.h"

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

// The arguments as QCoreApplication would give them, read before there is one.
QStringList argumentsOf(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
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
    if (options.version) {
        std::printf("%s\n", Res::kAboutVersion);
        return 0;
    }
    CDaoRecordset::SetDefaultDatabaseName(CDaoRecordset::ChooseDatabaseName(options.database));
    return std::nullopt;
}

} // namespace

int main(int argc, char* argv[])
{
    // Read before any application object: --help, --version and the dispatcher without a
    // window must work where there is no display at all.
    const ProgramOptions early = ParseProgramOptions(argumentsOf(argc, argv));
    if (asksForHeadless(argc, argv)) {
        QCoreApplication application(argc, argv);
        if (const std::optional<int> status = takeOptions(early))
            return *status;
        return RunHeadlessDispatcher(early);
    }
    if (early.error.isEmpty() && (early.help || early.version))
        return *takeOptions(early);
    // The window system takes its own arguments (-platform, -style ...) out of the list.
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
