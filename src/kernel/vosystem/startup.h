// Library start-up: the install list and the look-up tree of the query
// functions that start-up installed.
#pragma once

#include <cstddef>
#include <cstdint>

#include <vo/vo_types.h>

namespace vo {

// One entry of the install list. The query function is null while its
// module is not part of the library; such an entry is passed over.
struct StartupModule {
  const char *name;       // registry name
  uint32_t number;        // module number
  VtQueryFunction query;  // null: the module is missing
};

// The modules VoInitialise installs after the first VoSystemStart, in order.
const StartupModule *StartupInstallList(size_t *count);
// The driver framework's entry, installed before the first VoSystemStart.
const StartupModule &StartupDriverEntry();

// VoInstallModule, then records {module number, query function} in the
// look-up tree (a failed install too). A null query function does nothing
// and answers 0.
VtStatus StartupInstall(VtQueryFunction query);

// The query function start-up recorded for a module number, or null.
VtQueryFunction StartupQueryFunction(uint32_t number);

// The text written when the driver mode cannot be set.
extern const char kDriverModeFailureText[];

}  // namespace vo
