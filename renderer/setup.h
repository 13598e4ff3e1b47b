// The filter's setup record, for registration.
#pragma once

#include "strmif.h"

extern const AMOVIESETUP_FILTER kVideoRendererSetup;
extern const wchar_t kVideoRendererName[];
