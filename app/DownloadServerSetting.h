// Where the download service lives: the "DownloadServer" key of the common settings, else
// the base URL compiled in.
#pragma once

#include <QString>

// The full URL of the service's query script under the base URL in force.
QString DownloadServiceUrl();
