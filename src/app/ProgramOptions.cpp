#include "app/ProgramOptions.h"

#include "platform/OptionValue.h"

ProgramOptions ParseProgramOptions(const QStringList& arguments)
{
    ProgramOptions options;
    for (qsizetype i = 0; i < arguments.size() && options.error.isEmpty(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("--headless"))
            options.headless = true;
        else if (argument == QLatin1String("--help") || argument == QLatin1String("-h"))
            options.help = true;
        else if (argument == QLatin1String("--version"))
            options.version = true;
        else if (!TakeOptionValue(
                     arguments, i, QStringLiteral("--db"), {}, options.database, options.error)
            && !TakeOptionValue(
                arguments, i, QStringLiteral("--modem"), {}, options.modemName, options.error))
            options.error = QStringLiteral("Unknown argument: %1").arg(argument);
    }
    if (options.error.isEmpty() && !options.headless && !options.modemName.isEmpty())
        options.error = QStringLiteral("--modem is for --headless; the desktop program uses "
                                       "the modem chosen with System, Select Modem.");
    return options;
}

QString ProgramUsage()
{
    return QStringLiteral(
        "Usage: quillpost [--db FILE]\n"
        "       quillpost --headless [--db FILE] [--modem NAME]\n"
        "       quillpost --help | --version\n"
        "\n"
        "Without --headless, starts the desktop program. With it, dispatches the queued\n"
        "messages without a window, logging one line per step to standard output, until\n"
        "SIGTERM or SIGINT ends the call in progress and the program.\n"
        "\n"
        "  --db FILE      the database (default: the file named by $QUILLPOST_DB, else by\n"
        "                 the setting Database in group Quillpost, else Quillpost.mdb in\n"
        "                 the working directory)\n"
        "  --modem NAME   the line device to dial with (default: the one chosen in the\n"
        "                 desktop program with System, Select Modem)\n"
        "\n"
        "Only one program sends from a database at a time; another one waits and says\n"
        "who is sending.\n");
}
