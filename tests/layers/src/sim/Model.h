// A module that keeps to its declarations.
#pragma once

#include <vector>

#include "serial/CommTypes.h"
#include "writing/Line.h"
