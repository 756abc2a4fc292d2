// What every request of this layer's HTTP client insists on (the transfer engine already
// limits every request to the http and https schemes): certificates verified against the
// system's store (host name, chain, dates), never ignored; optionally further CAs from a PEM
// file, added to the system's store rather than replacing it.
#pragma once

#include <QByteArray>
#include <QString>

#include "platform/base/Exception.h"

typedef void CURL;

// A request refused for its transport security: a certificate that is not trusted, made out
// for another host or out of date, or a secure connection that could not be set up.
class TransportSecurityError : public Exception {
 public:
  using Exception::Exception;
};

struct TransportSecurity {
  // A PEM file of further trusted CA certificates; empty for the system's store alone.
  QString ExtraCaFile;
};

// Turns certificate checks on for `easy` and trusts `bundle` (from CaBundleWith) instead of
// the system's bundle alone; an empty bundle: the system's store.
void ApplyExtraCaBundle(CURL* easy, const QByteArray& bundle);

// The system's CA bundle (as libcurl finds it) followed by the certificates of `extraCaFile`.
// Raises Exception as above.
QByteArray CaBundleWith(const QString& extraCaFile);

// The error for a secure connection to `host` refused for `reason`, saying which host and why.
TransportSecurityError SecureConnectionRefused(const QString& host, const QString& reason);
