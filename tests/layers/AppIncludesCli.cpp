// Built by the layer test: the window may not include swelox-cli's headers.
#include "app/Controls.h"
#include "cli/Options.h"
