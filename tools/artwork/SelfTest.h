// Exercises the file check against damaged copies of the pictures.
#pragma once

#include "Artwork.h"

namespace tessamune::artwork
{
// Takes the pictures at scale 1 and at scale 2; returns the number of failed
// cases, printing each failure.
int runSelfTest (const std::vector<Picture>& pictures, const std::vector<Picture>& picturesAt2x);

} // namespace tessamune::artwork
