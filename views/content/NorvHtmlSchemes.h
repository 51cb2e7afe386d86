// The URL schemes of the framework's HTML views. Kept apart from the view
// headers so that a host's main can register them without the web engine's
// headers.
#pragma once
#include "norv/norvtypes.h"

// Registers the `res:` scheme (res://<module file name>/<resource name>)
// with the web engine. Call it before the QApplication is created (the
// explorer's main does); calling it again does nothing.
NORV_API void NorvRegisterHtmlSchemes();
