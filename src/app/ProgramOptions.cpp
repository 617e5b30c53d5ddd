#include "app/ProgramOptions.h"

#include "gateway/ListenAddress.h"
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
        else if (QString modem; TakeOptionValue(
                     arguments, i, QStringLiteral("--modem"), {}, modem, options.error))
            options.modemNames.append(modem);
        else if (!TakeOptionValue(
                     arguments, i, QStringLiteral("--db"), {}, options.database, options.error)
            && !TakeOptionValue(arguments, i, QStringLiteral("--metrics-listen"), {},
                options.metricsListen, options.error)
            && !TakeOptionValue(arguments, i, QStringLiteral("--snpp-listen"), {},
                options.snppListen, options.error))
            options.error = QStringLiteral("Unknown argument: %1").arg(argument);
    }
    if (options.error.isEmpty() && !options.headless && !options.modemNames.isEmpty())
        options.error = QStringLiteral("--modem is for --headless; the desktop program uses "
                                       "the modem chosen with System, Select Modem.");
    if (options.error.isEmpty() && !options.metricsListen.isEmpty()) {
        if (!options.headless)
            options.error = QStringLiteral("--metrics-listen is for --headless.");
        else
            ParseListenAddress(options.metricsListen, options.error);
    }
    if (options.error.isEmpty() && !options.snppListen.isEmpty()) {
        if (!options.headless)
            options.error = QStringLiteral("--snpp-listen is for --headless.");
        else
            ParseListenAddress(options.snppListen, options.error);
    }
    return options;
}

QString ProgramUsage()
{
    return QStringLiteral(
        "Usage: quillpost [--db FILE]\n"
        "       quillpost --headless [--db FILE] [--modem NAME]...\n"
        "                            [--metrics-listen [ADDR:]PORT]\n"
        "                            [--snpp-listen [ADDR:]PORT]\n"
        "       quillpost --help | --version\n"
        "\n"
        "Without --headless, starts the desktop program. With it, dispatches the queued\n"
        "messages without a window, logging one line per step to standard output, until\n"
        "SIGTERM or SIGINT ends the calls in progress and the program.\n"
        "\n"
        "  --db FILE      the database (default: the file named by $QUILLPOST_DB, else by\n"
        "                 the setting Database in group Quillpost, else Quillpost.mdb in\n"
        "                 the working directory)\n"
        "  --modem NAME   a line device to dial with; repeated, each sends a call of its\n"
        "                 own at the same time (default: the setting Send Lines in group\n"
        "                 Quillpost, else the modem chosen in the desktop program with\n"
        "                 System, Select Modem)\n"
        "  --metrics-listen [ADDR:]PORT\n"
        "                 serve the metrics page (Prometheus) at /metrics there; without\n"
        "                 ADDR on 127.0.0.1 only (default: the setting Metrics Listen in\n"
        "                 group Gateway; none: no metrics page)\n"
        "  --snpp-listen [ADDR:]PORT\n"
        "                 accept pages from other hosts over SNPP there; without ADDR on\n"
        "                 127.0.0.1 only (default: the setting SNPP Listen in group\n"
        "                 Gateway; none: no SNPP gateway)\n"
        "\n"
        "Only one program sends from a database at a time; another one waits and says\n"
        "who is sending.\n");
}
