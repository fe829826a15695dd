// The same with angle brackets.
#include <writing/RadioQRB.h>
