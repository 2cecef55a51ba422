// Built by the layer test: swelox-cli may not include the window's headers.
#include "cli/Options.h"
#include "app/Controls.h"
