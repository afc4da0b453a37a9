#include "tile/tile_image.h"
