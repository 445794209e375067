// The pro shader library's face (voshpro): what the object file asks of a
// class whose argument get answers a derived value rather than the value
// set, so that a saved light loads as the light that was saved.
#pragma once

#include <vo/vo_shader.h>
#include <vo/vo_types.h>

namespace vo::pro {

// The value an object file saves for the goniometric light's "power" (as
// given, 0 while the file's power is used; get answers it times
// "intensity") and "colour" (the filter as set; get answers the record's
// filtered colour once prepared). False, value untouched, for any other
// shader or label.
bool GoniometricSavedArgument(const VtShader *shader, const char *label, VtTypedValue *value);

}  // namespace vo::pro
