#pragma once

#include <QString>
#include <QtGlobal>

// How a provider is reached, as its access number says.
enum class CarrierKind
{
    Dialled, // a telephone number, or host:port, through the chosen line device
    TapTcp, // tap://host:port
    TapTls, // taps://host:port
    Snpp, // snpp://[login@]host[:port]
    SnppTls, // snpps://[login@]host[:port]
    Wctp, // http(s)://[sender@]host[:port]/path
};

// Where an access number leads. A URL (anything holding "://") names a carrier that
// needs no modem; anything else is dialled through the line device as before and has
// only `kind` set. `refusal` is empty exactly when the access number can be used.
struct CarrierAddress
{
    static constexpr quint16 kSnppPort = 444;

    CarrierKind kind = CarrierKind::Dialled;
    bool tls = false; // taps, snpps, https
    QString host; // without brackets for an IPv6 address
    quint16 port = 0;
    QString login; // the URL's user part, percent-decoded; empty: none
    QString path; // WCTP only: the request path with its query, at least "/"
    // Why the URL cannot be used, as a clause that follows "is not a usable address: ".
    QString refusal;

    bool IsUsable() const { return refusal.isEmpty(); }
    // Whether the access number needs the modem chosen in the settings: a refused URL
    // does not, it is never called.
    bool NeedsLineDevice() const { return kind == CarrierKind::Dialled && IsUsable(); }
};

// Whether the access number is meant as a URL rather than a number or host:port.
bool IsCarrierUrl(const QString& accessNumber);

// Reads an access number. A refused URL keeps the kind its scheme names (Dialled when
// the scheme is unknown) and says why in `refusal`. A password in the URL is refused: the secret is
// the provider's stored password, never a part of its address.
CarrierAddress ParseCarrierAddress(const QString& accessNumber);

// What the provider dialog says of a refused URL.
QString BadCarrierAddressText(const QString& refusal);

// Why a send or the scheduler passes over a provider whose URL is refused.
QString CarrierAddressFault(const QString& provider, const QString& refusal);
