#include "SimCommandLine.h"

#include <QCommandLineParser>

namespace quillpost::sim {

namespace {

struct CountOption
{
    QString name;
    QString description;
    int* target;
    int lowest;
};

} // namespace

bool parseSimArguments(const QStringList& arguments, SimInvocation& invocation)
{
    SimConfig& config = invocation.config;
    config.ringDelayMs = 1000; // a believable ring for people; tests use less
    SimFaults& faults = config.faults;

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A simulated Hayes modem and TAP paging terminal to test and demonstrate "
                       "Quillpost against."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption pty(QStringLiteral("pty"),
        QStringLiteral(
            "Play the modem on a new pseudo-terminal; its path is printed first (default)."));
    const QCommandLineOption link = QCommandLineOption(QStringLiteral("link"),
        QStringLiteral("Also make a symbolic link to the pseudo-terminal at <path>."),
        QStringLiteral("path"));
    const QCommandLineOption tcp = QCommandLineOption(QStringLiteral("tcp"),
        QStringLiteral(
            "Listen on 127.0.0.1:<port> instead; each connection is a call in data mode."),
        QStringLiteral("port"));
    const QCommandLineOption log = QCommandLineOption(QStringLiteral("log"),
        QStringLiteral("Append one JSON line per accepted page and per call ending to <file>."),
        QStringLiteral("file"));
    const QCommandLineOption noSequences(QStringLiteral("no-message-sequences"),
        QStringLiteral("Leave out the \"110 1.8\", \"211 ...\" and similar lines."));
    const QCommandLineOption busy(
        QStringLiteral("busy"), QStringLiteral("Every dial answers BUSY."));
    const QCommandLineOption noAnswer(
        QStringLiteral("no-answer"), QStringLiteral("Every dial answers NO ANSWER."));
    const QCommandLineOption noCarrier(QStringLiteral("no-carrier"),
        QStringLiteral("Every dial answers NO CARRIER after ringing."));
    const QCommandLineOption silent(
        QStringLiteral("silent"), QStringLiteral("Connect, then never answer anything."));
    const QCommandLineOption garbage(QStringLiteral("garbage"),
        QStringLiteral("Answer with line noise instead of prompts and verdicts."));
    const QCommandLineOption unknownPager(QStringLiteral("unknown-pager"),
        QStringLiteral("Answer blocks to pager <id> with \"511\" and RS (may be repeated)."),
        QStringLiteral("id"));
    const QCommandLineOption password(QStringLiteral("password"),
        QStringLiteral("Require <password> at log-on; a wrong one gets \"509\" and ESC EOT."),
        QStringLiteral("password"));
    const QCommandLineOption crLf(
        QStringLiteral("crlf"), QStringLiteral("End the terminal's lines with CR LF."));
    const QCommandLineOption deferred(QStringLiteral("deferred"),
        QStringLiteral(
            "Accept pages with \"213 ...\" (deferred delivery) instead of \"211 ...\"."));
    const QCommandLineOption snpp(QStringLiteral("snpp"),
        QStringLiteral("With --tcp: be an SNPP server instead of a TAP terminal."));
    const QCommandLineOption login(QStringLiteral("login"),
        QStringLiteral("SNPP: LOGI must name <login> (and --password, if given)."),
        QStringLiteral("login"));
    const QCommandLineOption tls(QStringLiteral("tls"),
        QStringLiteral("With --tcp: TLS on every connection, as --tls CERT KEY (PEM files)."),
        QStringLiteral("cert"));
    const QCommandLineOption wctp(QStringLiteral("wctp"),
        QStringLiteral("With --tcp: be an HTTP endpoint taking WCTP submissions instead of a TAP "
                       "terminal."));
    const QCommandLineOption longRun(QStringLiteral("long-run"),
        QStringLiteral("After connecting, send 2,000 bytes with no line end."));

    // Options that take a whole number, each with the smallest value that makes sense.
    const QList<CountOption> countTargets {
        { QStringLiteral("drop-after-block"),
            QStringLiteral("Drop the line right after accepting block <n> of a call."),
            &faults.dropLineAfterBlock, 1 },
        { QStringLiteral("drop-at-byte"),
            QStringLiteral("Drop the line once <n> bytes of a call's data have passed."),
            &faults.dropLineAtByte, 1 },
        { QStringLiteral("nak-login"),
            QStringLiteral("Answer the first <n> logins of a call with NAK."),
            &faults.nakLoginTimes, 1 },
        { QStringLiteral("nak-block"), QStringLiteral("Answer block <n> of a call with NAK."),
            &faults.nakBlock, 1 },
        { QStringLiteral("chunk-size"),
            QStringLiteral("Deliver every reply in pieces of <n> bytes."), &faults.chunkSize, 1 },
        { QStringLiteral("chunk-pause"),
            QStringLiteral("Pause <n> ms between those pieces (default 50)."), &faults.chunkPauseMs,
            0 },
        { QStringLiteral("slow"),
            QStringLiteral("Wait <n> ms before each of the terminal's replies."),
            &faults.slowReplyMs, 0 },
        { QStringLiteral("ring-delay"),
            QStringLiteral("Ring for <n> ms before a dial is answered (default 1000)."),
            &config.ringDelayMs, 0 },
        { QStringLiteral("guard-time"),
            QStringLiteral("Silence of <n> ms needed around \"+++\" (default 1000)."),
            &config.guardTimeMs, 0 },
        { QStringLiteral("idle-timeout"),
            QStringLiteral("End a call idle for <n> ms with \"501\" (default 0: never)."),
            &config.idleTimeoutMs, 0 },
        { QStringLiteral("pages-per-call"),
            QStringLiteral("Take at most <n> pages per call; the next gets \"512\" and ESC EOT."),
            &config.maxPagesPerCall, 1 },
        { QStringLiteral("hang-up-delay"),
            QStringLiteral("TCP: close a call <n> ms after the terminal ended it (default 0)."),
            &config.hangUpDelayMs, 0 },
        { QStringLiteral("line-rate"),
            QStringLiteral("The line carries <n> bits per second, 10 per byte, one way at a time: "
                           "every reply and echo reaches the caller only after its line time "
                           "(default 0: no line time)."),
            &config.lineRateBps, 0 },
        { QStringLiteral("max-block"),
            QStringLiteral("Longest block accepted, in bytes (default 256)."),
            &config.maxBlockLength, 9 },
    };
    QList<QCommandLineOption> counts;
    for (const CountOption& count : countTargets)
        counts.append(QCommandLineOption(count.name, count.description, QStringLiteral("n")));

    parser.addOptions({ pty, link, tcp, log, noSequences, busy, noAnswer, noCarrier, silent,
        garbage, longRun, unknownPager, password, crLf, deferred, snpp, login, tls, wctp });
    parser.addOptions(counts);

    if (!parser.parse(arguments)) {
        invocation.message = parser.errorText();
        return false;
    }
    if (parser.isSet(help)) {
        invocation.helpShown = true;
        invocation.message = parser.helpText();
        return true;
    }
    QStringList positional = parser.positionalArguments();
    if (parser.isSet(tls)) {
        // The key is the argument after the certificate.
        if (positional.isEmpty()) {
            invocation.message
                = QStringLiteral("--tls needs a certificate and a key: --tls CERT KEY.");
            return false;
        }
        config.tlsCertificatePath = parser.value(tls);
        config.tlsKeyPath = positional.takeFirst();
    }
    if (!positional.isEmpty()) {
        invocation.message = QStringLiteral("Unexpected argument: %1").arg(positional.first());
        return false;
    }
    if (parser.isSet(pty) && parser.isSet(tcp)) {
        invocation.message = QStringLiteral("Choose either --pty or --tcp, not both.");
        return false;
    }
    if (parser.isSet(tcp)) {
        bool ok = false;
        const uint port = parser.value(tcp).toUInt(&ok);
        if (!ok || port > 65535) {
            invocation.message = QStringLiteral("--tcp needs a port number from 0 to 65535.");
            return false;
        }
        invocation.mode = SimInvocation::Mode::Tcp;
        invocation.tcpPort = static_cast<quint16>(port);
    }
    if ((parser.isSet(snpp) || parser.isSet(tls)) && invocation.mode != SimInvocation::Mode::Tcp) {
        invocation.message = QStringLiteral("--snpp and --tls go with --tcp only.");
        return false;
    }
    config.snpp = parser.isSet(snpp);
    config.snppLogin = parser.value(login).toLatin1();
    if (parser.isSet(wctp) && (invocation.mode != SimInvocation::Mode::Tcp || config.snpp)) {
        invocation.message = QStringLiteral("--wctp goes with --tcp only, and not with --snpp.");
        return false;
    }
    config.wctp = parser.isSet(wctp);
    if (parser.isSet(link) && invocation.mode == SimInvocation::Mode::Tcp) {
        invocation.message = QStringLiteral("--link goes with --pty only.");
        return false;
    }
    invocation.linkPath = parser.value(link);
    config.logPath = parser.value(log);
    config.messageSequences = !parser.isSet(noSequences);
    faults.busy = parser.isSet(busy);
    faults.noAnswer = parser.isSet(noAnswer);
    faults.noCarrier = parser.isSet(noCarrier);
    faults.silentAfterConnect = parser.isSet(silent);
    faults.garbage = parser.isSet(garbage);
    faults.longRunWithoutLineEnd = parser.isSet(longRun);
    config.crLfLineEnds = parser.isSet(crLf);
    config.deferredDelivery = parser.isSet(deferred);
    for (const QString& id : parser.values(unknownPager))
        config.unknownPagerIds.append(id.toLatin1());
    config.password = parser.value(password).toLatin1();

    for (qsizetype i = 0; i < countTargets.size(); ++i) {
        if (!parser.isSet(counts[i]))
            continue;
        bool ok = false;
        const int value = parser.value(counts[i]).toInt(&ok);
        if (!ok || value < countTargets[i].lowest) {
            invocation.message = QStringLiteral("--%1 needs a whole number of at least %2.")
                                     .arg(countTargets[i].name)
                                     .arg(countTargets[i].lowest);
            return false;
        }
        *countTargets[i].target = value;
    }
    return true;
}

} // namespace quillpost::sim
