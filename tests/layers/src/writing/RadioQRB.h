// Stand-in for a header of the write engine itself.
#pragma once

#include "writing/Line.h"
