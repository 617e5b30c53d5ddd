#include "ConnectionFixture.h"

#include <QtGlobal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

void RecordingOwner::OnLineConnected(std::uintptr_t wParam)
{
    events << QStringLiteral("connected %1").arg(wParam);
}

void RecordingOwner::OnLineFailed(std::uintptr_t wParam, std::intptr_t lParam)
{
    events << QStringLiteral("failed %1 %2").arg(wParam).arg(lParam);
    if (onFailed)
        onFailed(lParam);
}

void RecordingOwner::OnTapAccepted()
{
    events << QStringLiteral("accepted");
    if (onAccepted)
        onAccepted();
}

void RecordingOwner::OnTapRefused()
{
    events << QStringLiteral("refused");
}

ConnectionFixture::ConnectionFixture()
    : modems([] { return QStringLiteral("Bravo"); }, &telephony)
{
    telephony.devices = { QStringLiteral("Alpha"), QStringLiteral("Bravo") };
    int pair[2] = { -1, -1 };
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0)
        qFatal("no socket pair");
    farEnd = pair[1];
    auto handed = std::make_shared<int>(pair[0]);
    telephony.makePort = [handed] {
        const int fd = *handed;
        *handed = -1;
        return fd < 0 ? nullptr : std::make_unique<CCommPort>(fd);
    };
    modems.Discover();
}

ConnectionFixture::~ConnectionFixture()
{
    CloseFarEnd();
}

void ConnectionFixture::OpenAndDial(CModemConnection& connection)
{
    connection.OpenLine(modems, modems.SelectedDevice(), &owner);
    connection.PlaceCall(QStringLiteral("5551234"));
}

QByteArray ConnectionFixture::FarEndReceived()
{
    char buffer[512];
    ssize_t count = 0;
    while (farEnd >= 0 && (count = read(farEnd, buffer, sizeof buffer)) > 0)
        farEndLog.append(buffer, count);
    return farEndLog;
}

void ConnectionFixture::FarEndSend(const QByteArray& bytes)
{
    // The program may have closed its end already; that must not end the test.
    if (farEnd >= 0)
        send(farEnd, bytes.constData(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL);
}

void ConnectionFixture::CloseFarEnd()
{
    if (farEnd >= 0)
        close(farEnd);
    farEnd = -1;
}
