// Built by the layer test: the core may not include the imaging layer.
#include "core/Errors.h"
#include "imaging/JpegDecoder.h"
