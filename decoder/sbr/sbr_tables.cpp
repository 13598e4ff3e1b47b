// Placeholder until the generated tables land.
#include "sbr/sbr_tables.h"
