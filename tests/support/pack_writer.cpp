#include "support/image_gen.h"
