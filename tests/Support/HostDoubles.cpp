#include "Support/HostDoubles.h"
