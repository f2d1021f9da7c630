#pragma once
// The launcher's file and product version: one place for the resource
// script's version block (src/app/launcher.rc) and the code that names it
// (the log's first line).

#define TARNIX_VERSION_NUMBERS 1, 0, 0, 86
#define TARNIX_VERSION_TEXT "1.0.0.86"
