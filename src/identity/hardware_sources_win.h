#pragma once
// Former name of identity/identity_sources_win.h, for includes not yet switched.
#include "identity/identity_sources_win.h"
