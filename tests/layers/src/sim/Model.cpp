// Own headers by module path and by file name, a platform sub-folder, a
// system header and a commented-out include.
#include "sim/Model.h"

#include <sys/stat.h>

#include "Model.h"
#include "posix/Platform.h"
// #include "writing/RadioQRB.h" is not an include
