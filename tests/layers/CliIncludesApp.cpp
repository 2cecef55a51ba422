// Built by the layer test: swelox-cli may not include the window's headers.
#include "app/Controls.h"
#include "cli/Options.h"
