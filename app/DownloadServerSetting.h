// Where the download service lives and what the download road trusts, from the section
// "SOFTWARE\QUARNELL\COMMON" of the common settings, else the values compiled in.
#pragma once

#include <QString>

// The full URL of the service's query script under the base URL in force ("DownloadServer").
QString DownloadServiceUrl();

// The PEM file of further CA certificates ("CaCertificates"); empty for the system's store alone.
QString CaCertificatesSetting();

// The package-signing public key in force: "PackagePublicKey" (the base64 key line of a
// minisign.pub), else the key compiled in; empty when packages are not to be verified.
QString PackagePublicKeySetting();

// How many connections a download may open to the package's server ("DownloadConnections",
// 1 to 16): 1 fetches one range at a time. The default when unset or unreadable.
inline constexpr int kDefaultDownloadConnections = 12;
int DownloadConnectionsSetting();
