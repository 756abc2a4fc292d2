// The archive and file utilities module: zip archives, the open-file registry, file copy.
#pragma once

#include "fileutils/QnFileCopy.h"
#include "fileutils/QnOpenFileRegistry.h"
#include "fileutils/QnZipManager.h"
