// The pointer parameters whose call gives back the block it is given (the
// interface description's "givesback" lines), generated beside the table of
// exported procedures: after such a call the command interpreter forgets
// every variable that holds the block, so that no script gives it back
// twice or reads it after.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernel/vosystem/api_table.h"

namespace vo::api {

struct VtApiGivenBack {
  uint32_t function;  // index in kFunctions
  uint32_t param;
};
extern const VtApiGivenBack kGivenBack[];
extern const size_t kGivenBackCount;

}  // namespace vo::api
