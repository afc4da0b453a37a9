#include "pack/pack_format.h"
