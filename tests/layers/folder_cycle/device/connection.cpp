#include "config/configuration_build.h"
#include "device/device_context.h"
