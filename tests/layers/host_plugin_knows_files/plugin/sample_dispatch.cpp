#include "files/sample_writer.h"
