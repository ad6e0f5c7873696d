// Resource ids the executable's resource script and the window share: macros, so that the
// resource compiler reads them too.
#pragma once

// The station's icon: the window's large and small icon, the About box's, the executable's own.
#define TARVIX_ICON 140
