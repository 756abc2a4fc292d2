// The handful of WinInet calls the web component makes, on libcurl, with WinInet's error
// numbers. Handles are opaque numbers; a session handle closed from another thread makes
// every call blocked under it return within about 50 ms with ERROR_INTERNET_OPERATION_CANCELLED.
// All calls are safe from any thread; one request handle is used by one thread at a time.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace wininet {

using HINTERNET = quintptr;  // 0 is the null handle

inline constexpr quint32 INTERNET_OPEN_TYPE_PRECONFIG = 0;
inline constexpr quint32 INTERNET_SERVICE_HTTP = 3;
inline constexpr quint32 INTERNET_FLAG_RELOAD = 0x80000000;
inline constexpr quint32 INTERNET_FLAG_SECURE = 0x00800000;
inline constexpr quint32 INTERNET_FLAG_IGNORE_CERT_DATE_INVALID = 0x00002000;
inline constexpr quint32 INTERNET_FLAG_IGNORE_CERT_CN_INVALID = 0x00001000;
inline constexpr quint32 INTERNET_FLAG_PRAGMA_NOCACHE = 0x00000100;
inline constexpr quint32 SECURITY_FLAG_IGNORE_UNKNOWN_CA = 0x00000100;
inline constexpr quint32 INTERNET_OPTION_RECEIVE_TIMEOUT = 6;
inline constexpr quint32 INTERNET_OPTION_SECURITY_FLAGS = 31;
inline constexpr quint32 INTERNET_OPTION_CONNECTED_STATE = 50;
inline constexpr quint32 INTERNET_STATE_CONNECTED = 1;
inline constexpr quint32 INTERNET_STATE_DISCONNECTED = 2;
inline constexpr quint32 HTTP_QUERY_CONTENT_LENGTH = 5;
inline constexpr quint32 HTTP_QUERY_RAW_HEADERS_CRLF = 22;
inline constexpr quint32 HTTP_QUERY_SET_COOKIE = 43;
inline constexpr quint32 HTTP_QUERY_FLAG_NUMBER = 0x20000000;
inline constexpr quint32 ICU_ESCAPE = 0x80000000;

inline constexpr quint32 ERROR_INVALID_HANDLE = 6;
inline constexpr quint32 ERROR_INVALID_PARAMETER = 87;
inline constexpr quint32 ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr quint32 ERROR_INTERNET_TIMEOUT = 12002;
inline constexpr quint32 ERROR_INTERNET_INTERNAL_ERROR = 12004;
inline constexpr quint32 ERROR_INTERNET_INVALID_URL = 12005;
inline constexpr quint32 ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
inline constexpr quint32 ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
inline constexpr quint32 ERROR_INTERNET_OPERATION_CANCELLED = 12017;
inline constexpr quint32 ERROR_INTERNET_CANNOT_CONNECT = 12029;
inline constexpr quint32 ERROR_INTERNET_CONNECTION_ABORTED = 12030;
inline constexpr quint32 ERROR_INTERNET_CONNECTION_RESET = 12031;
inline constexpr quint32 ERROR_INTERNET_INVALID_CA = 12045;
inline constexpr quint32 ERROR_HTTP_HEADER_NOT_FOUND = 12150;
inline constexpr quint32 ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
inline constexpr quint32 ERROR_HTTP_INVALID_HEADER = 12153;

struct UrlComponents {
  QString Scheme;
  QString HostName;
  quint16 Port = 0;
  QString UrlPath;    // from the first "/" after the host, escapes resolved
  QString ExtraInfo;  // from "?" on, escapes resolved ("" when none)
};

// The calling thread's last error, as the calls below leave it.
quint32 GetLastError();
void SetLastError(quint32 code);
// Whether `text` holds CR, LF or NUL, which would end a header line early and start
// another on the wire.
bool BreaksHeaderLine(const QString& text);
// The system's message text for an error number the calls below leave ("The URL is
// invalid."); a generic text for any other number.
QString SystemMessageText(quint32 code);

// An agent with CR, LF or NUL is refused (ERROR_INVALID_PARAMETER).
HINTERNET InternetOpenW(const QString& agent, quint32 accessType, const QString& proxy, const QString& bypass,
                        quint32 flags);
HINTERNET InternetConnectW(HINTERNET session, const QString& host, quint16 port, const QString& user,
                           const QString& password, quint32 service, quint32 flags, quintptr context);
HINTERNET HttpOpenRequestW(HINTERNET connection, const QString& verb, const QString& object, const QString& version,
                           const QString& referrer, const QStringList& acceptTypes, quint32 flags, quintptr context);
// Sends the request and waits for the reply's headers. `headers` are CRLF-separated lines,
// sent as given (an empty value included); a lone CR, LF or a NUL in them is refused with
// ERROR_HTTP_INVALID_HEADER. Only Host, the body's length and what the call is given go
// out: no accept types, no Expect. A reply that is not HTTP fails with
// ERROR_HTTP_INVALID_SERVER_RESPONSE. `host` of the connection may be an IPv6 literal,
// with or without its brackets.
bool HttpSendRequestW(HINTERNET request, const QString& headers, const QByteArray& body);
// HTTP_QUERY_CONTENT_LENGTH with HTTP_QUERY_FLAG_NUMBER.
bool HttpQueryInfoNumber(HINTERNET request, quint32 level, quint32& value);
// A text header: HTTP_QUERY_SET_COOKIE (one value per `index`, which advances) or
// HTTP_QUERY_RAW_HEADERS_CRLF. Fails with ERROR_INSUFFICIENT_BUFFER when the text in
// UTF-16 needs more than `bufferBytes`.
bool HttpQueryInfoText(HINTERNET request, quint32 level, QString& value, quint32& index, qsizetype bufferBytes);
// Up to `size` body bytes; `read` 0 with true is the end of the body.
bool InternetReadFile(HINTERNET request, char* buffer, quint32 size, quint32& read);
bool InternetCloseHandle(HINTERNET handle);
// 4-byte options: the process-wide receive time-out and connected state (handle 0), a
// request's security flags.
bool InternetQueryOptionDword(HINTERNET handle, quint32 option, quint32& value);
bool InternetSetOptionDword(HINTERNET handle, quint32 option, quint32 value);
bool InternetCrackUrlW(const QString& url, quint32 flags, UrlComponents& components);

}  // namespace wininet
