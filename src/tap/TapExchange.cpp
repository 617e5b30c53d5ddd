#include "tap/TapExchange.h"
