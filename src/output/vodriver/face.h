// The driver framework's face: driver records, the file drivers' support and
// images as the rest of the library sees them.
#pragma once

#include "output/vodriver/driver.h"
#include "output/vodriver/file_driver.h"
#include "output/vodriver/images.h"
