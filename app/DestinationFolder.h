// The default destination folder of downloads: <system root>/Quarnell/Download/.
#pragma once

#include <QString>

// The default folder, ending with "/"; made with its parents when missing (a failure
// to make it is not reported: the first write of a download reports it).
QString GetDefaultDownloadFolder();

// Says in an error box where downloads were to go and why they cannot, when `folder` is
// not a folder this user may write in (it could not be made, or it belongs to someone
// else); nothing when it is usable. The default folder's box at start-up: without it the
// first download would fail with no more than the low-level file error.
void ReportUnusableDownloadFolder(const QString& folder);
