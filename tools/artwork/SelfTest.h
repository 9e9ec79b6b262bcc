// Exercises the file check against damaged copies of the pictures.
#pragma once

#include "Artwork.h"

namespace tessamune::artwork
{
// Returns the number of failed cases, printing each failure.
int runSelfTest (const std::vector<Picture>& pictures);

} // namespace tessamune::artwork
