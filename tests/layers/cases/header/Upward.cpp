// Reaches a header of a module it does not declare.
#include "sim/Model.h"
#include "writing/RadioQRB.h"
