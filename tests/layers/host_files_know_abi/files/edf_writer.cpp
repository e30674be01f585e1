#include "kessra_plugin.h"
