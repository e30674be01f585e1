#include "sample_writer.h"
