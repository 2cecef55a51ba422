// Built by the layer test: the imaging layer may not include the engine.
#include "imaging/JpegDecoder.h"
#include "analysis/BatchRun.h"
