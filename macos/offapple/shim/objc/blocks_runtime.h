// GNUstep's headers include this name for the blocks runtime; Debian ships it as Block.h.
#include <Block.h>
