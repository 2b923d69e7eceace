#pragma once
// TPersistent lives in rtl/ (the string lists below classes/ derive from it).
#include "framework/rtl/Persistent.h"
