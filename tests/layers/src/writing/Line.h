// Stand-in for the line interface a lower module implements.
#pragma once

#include "serial/CommTypes.h"
