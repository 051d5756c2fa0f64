// A fixture, never compiled: a file of the device layer that includes the controller, which the
// device layer does not link. The include check must reject it.
#include "controller/upgrade_controller.h"
#include "device/zelk.h"
