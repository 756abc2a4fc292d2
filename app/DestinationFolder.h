// The default destination folder of downloads: <system root>/Quarnell/Download/.
#pragma once

#include <QString>

// The default folder, ending with "/"; made with its parents when missing (a failure
// to make it is not reported: the first write of a download reports it).
QString GetDefaultDownloadFolder();
