// Built by the layer test: the engine may not include swelox-cli's headers.
#include "analysis/BatchRun.h"
#include "cli/Options.h"
