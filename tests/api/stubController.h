// A controller that answers nothing, for tests of the layers above the
// controller; a test overrides the operations it needs.
#pragma once

#include "../controllerSupport/nullController.h"

namespace apitest {

using StubController = controllertest::tNullController;

}  // namespace apitest
