#include "win32/win32platform.h"
