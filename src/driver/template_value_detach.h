// The driver's name for the template entry detach of the object model.
#pragma once

#include "objects/template_value_detach.h"

namespace qel {

using zrck::TemplateValueDetach;

} // namespace qel
