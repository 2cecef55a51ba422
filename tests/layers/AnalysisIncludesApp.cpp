// Built by the layer test: the engine may not include the window's headers.
#include "analysis/BatchRun.h"
#include "app/Controls.h"
