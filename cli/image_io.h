#pragma once

// Image files through OpenImageIO. The effect works on straight (unassociated)
// colour, so that is what reading hands over and writing takes back, whatever
// the file holds: reading (image_read.h), writing (image_write.h), the alpha
// conventions of formats and files (alpha_convention.h), the metadata carried
// (image_metadata.h), parts (file_parts.h) and bands of rows (image_bands.h).

#include "alpha_convention.h"
#include "image_read.h"
#include "image_write.h"
