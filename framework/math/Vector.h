#pragma once
// All math value types of the framework in one include.
#include "framework/math/AlphaColor.h"
#include "framework/math/BoundingBox.h"
#include "framework/math/Matrix3D.h"
#include "framework/math/Point.h"
#include "framework/math/Point3D.h"
#include "framework/math/Quaternion3D.h"
#include "framework/math/Rect.h"
