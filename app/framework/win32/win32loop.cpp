#include "framework/win32/win32backend.h"
