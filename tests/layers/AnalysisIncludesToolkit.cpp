// Built by the layer test: the engine may not include the test toolkit.
#include "analysis/BatchRun.h"
#include "toolkit/TestImages.h"
