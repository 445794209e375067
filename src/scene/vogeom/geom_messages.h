// The diagnostics the geometry module posts (module number 2).
#pragma once

#include <cstdint>

#include "kernel/vosystem/face.h"

namespace vo::geom_msg {

constexpr uint32_t kPropertyValueType = 358;   // a property value type that has no size
constexpr uint32_t kPropertyCountZero = 359;   // a property of count 0 without the privileged flag
constexpr uint32_t kPropertySlot = 519;        // a property name whose number is no slot below 128
constexpr uint32_t kPropertyRegistered = 520;  // a slot registered twice
constexpr uint32_t kPrimitiveProtected = 483;  // destroying a protected primitive
constexpr uint32_t kSceneListNull = 839;       // a scene list with an empty node
constexpr uint32_t kLengthUnit = 904;          // a length unit index outside 0-7
constexpr uint32_t kLengthFactor = 905;        // a custom length factor below 0.0001
using messages::kElementForeign;
using messages::kElementNotLive;
using messages::kElementStillNamed;
using messages::kLayoutTooLarge;
using messages::kListCycle;
using messages::kNormalsWithoutProperty;
using messages::kPrimitiveNotLive;
using messages::kPropertyNoStorage;
using messages::kPropertyNotRegistered;
using messages::kPropertyTooLarge;

}  // namespace vo::geom_msg
