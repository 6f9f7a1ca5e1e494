#pragma once

// Every file of the Windows front end takes the system's headers from here, first. The layers
// below name their constants as the system does (WM_APP, SW_HIDE, IDLE_PRIORITY_CLASS,
// SC_MINIMIZE, ...), as typed constants, and call files as it does (CopyFile, DeleteFile); <windows.h>
// makes each a macro, so they must be declared before the macros exist.
#include "control/dialogview.h"
#include "engine/messagetarget.h"
#include "platform/fileops.h"
#include "platform/process.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
