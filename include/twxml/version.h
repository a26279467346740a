// The library's version. The build reads these lines for its own version
// (package, shared-object version, CMake and pkg-config files), so this file
// is the one place to change it.
#pragma once

#define TWXML_VERSION_MAJOR 8
#define TWXML_VERSION_MINOR 0
#define TWXML_VERSION_PATCH 0
#define TWXML_VERSION_STRING "8.0.0"
