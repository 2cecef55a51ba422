// Built by the layer test: the imaging layer may not include the engine.
#include "analysis/BatchRun.h"
#include "imaging/JpegDecoder.h"
