// URL cracking of the WinInet-like layer on a URL from anywhere (a reply names the package
// URL). Beyond not crashing: a URL is taken or refused the same way with and without
// escape decoding; a taken one has an http or https scheme, a host free of "/", "?" and
// "@", the port it names or the scheme's own, and a path and query that are exactly the
// URL's tail; a refused one leaves one of the two errors that say why.
#include "fuzz/FuzzSupport.h"
#include "platform/net/WinInet.h"

using namespace wininet;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes = FuzzBytes(data, size);
  const QString url = FuzzChoice(data, size, 2) ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);

  UrlComponents raw, decoded;
  const bool taken = InternetCrackUrlW(url, 0, raw);
  const quint32 error = GetLastError();
  FUZZ_CHECK(InternetCrackUrlW(url, ICU_ESCAPE, decoded) == taken,
             QStringLiteral("escaping changed whether the URL is taken"));
  if (!taken) {
    FUZZ_CHECK(error == ERROR_INTERNET_UNRECOGNIZED_SCHEME || error == ERROR_INTERNET_INVALID_URL,
               QStringLiteral("a refused URL left error %1").arg(error));
    return 0;
  }
  FUZZ_CHECK(raw.Scheme == QLatin1String("http") || raw.Scheme == QLatin1String("https"),
             QStringLiteral("scheme %1").arg(raw.Scheme));
  FUZZ_CHECK(url.startsWith(raw.Scheme + QLatin1String("://"), Qt::CaseInsensitive),
             QStringLiteral("the scheme is not the URL's"));
  FUZZ_CHECK(!raw.HostName.isEmpty(), QStringLiteral("an empty host was taken"));
  for (const QChar c : {QLatin1Char('/'), QLatin1Char('?'), QLatin1Char('@')})
    FUZZ_CHECK(!raw.HostName.contains(c), QStringLiteral("the host %1 holds a %2").arg(raw.HostName, c));
  FUZZ_CHECK(raw.UrlPath.isEmpty() || raw.UrlPath.startsWith(QLatin1Char('/')), QStringLiteral("a path not from a /"));
  FUZZ_CHECK(!raw.UrlPath.contains(QLatin1Char('?')), QStringLiteral("the path holds the query"));
  FUZZ_CHECK(raw.ExtraInfo.isEmpty() || raw.ExtraInfo.startsWith(QLatin1Char('?')),
             QStringLiteral("a query not from a ?"));
  FUZZ_CHECK(url.endsWith(raw.UrlPath + raw.ExtraInfo), QStringLiteral("path and query are not the URL's tail"));
  const QString authority =
      url.mid(raw.Scheme.size() + 3, url.size() - raw.Scheme.size() - 3 - raw.UrlPath.size() - raw.ExtraInfo.size());
  const bool portNamed = authority.mid(authority.lastIndexOf(QLatin1Char('@')) + 1) != raw.HostName;
  if (!portNamed)
    FUZZ_CHECK(raw.Port == (raw.Scheme == QLatin1String("https") ? 443 : 80), QStringLiteral("not the scheme's port"));
  FUZZ_CHECK(decoded.Scheme == raw.Scheme && decoded.HostName == raw.HostName && decoded.Port == raw.Port,
             QStringLiteral("escaping changed the scheme, host or port"));
  if (!raw.UrlPath.contains(QLatin1Char('%')) && !raw.ExtraInfo.contains(QLatin1Char('%')))
    FUZZ_CHECK(decoded.UrlPath == raw.UrlPath && decoded.ExtraInfo == raw.ExtraInfo,
               QStringLiteral("a path without escapes changed through decoding"));
  return 0;
}
