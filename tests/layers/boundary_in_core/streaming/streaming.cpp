// What a core file must not do: pick the host's result itself.
#include "api/boundary.h"
