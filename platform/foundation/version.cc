#include "ccalib_version.h"

const char* cfLibraryVersion() { return CCALIB_VERSION_STRING; }
