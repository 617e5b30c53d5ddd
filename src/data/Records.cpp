#include "data/Records.h"
