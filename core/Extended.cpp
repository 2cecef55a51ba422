// Sets the x87 control word and rounding mode that the extended results need.
#include "core/Extended.h"

#include <fenv.h>
#include <fpu_control.h>

namespace swelox {

void UseExtendedPrecision() {
  fpu_control_t cw;
  _FPU_GETCW(cw);
  const fpu_control_t wanted = (cw & ~(_FPU_EXTENDED | _FPU_DOUBLE | _FPU_SINGLE)) | _FPU_EXTENDED;
  if (wanted != cw) _FPU_SETCW(wanted);
  if (fegetround() != FE_TONEAREST) fesetround(FE_TONEAREST);
}

}  // namespace swelox
