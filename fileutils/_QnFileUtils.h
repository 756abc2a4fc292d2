// The archive and file utilities module.
#pragma once

#include "fileutils/QnZipManager.h"
