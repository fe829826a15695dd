// Climbs out of its folder to reach one.
#include "../../src/writing/RadioQRB.h"
