#include "plugin/channel_layout.h"
