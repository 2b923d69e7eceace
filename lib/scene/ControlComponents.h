#pragma once
// Component routines of the scene-object unit: searches down the ownership tree and a text
// dump of it, the short stream texts of points, vectors and colours ("(1,0.5,-2.25)"),
// design mode for a whole tree and searches up the parent tree.
//
// The readers never raise on bad text: the first number that does not convert ends the
// reading, the fields read before it keep their new values and the rest their old ones.
// They need the leading "(": the token in front of it is dropped.
#include <functional>
#include <string>
#include <vector>

#include "framework/classes/Component.h"
#include "framework/classes/Filer.h"
#include "framework/classes/FwObject.h"
#include "framework/math/AlphaColor.h"
#include "framework/math/Point.h"
#include "framework/math/Point3D.h"
#include "framework/math/Quaternion3D.h"
#include "lib/context/ContextTypes.h"
#include "lib/utils/UtilsMath.h"

namespace quorvel {

using TComponentSearchFunc = std::function<bool(TComponent* AComponent)>;

// Pre-order, depth first through the owned components; the start component included.
TComponent* FindComponentDeepSearch(TComponent* AComponent, const std::string& AName);
TComponent* FindComponentDeepSearchByClass(TComponent* AComponent, const TClass* AClass);
TComponent* FindComponentDeepSearchByFilter(TComponent* AComponent, const TComponentSearchFunc& ACallback);
void FindAllComponentsByClass(TComponent* AComponent, const TClass* AClass, std::vector<TComponent*>& AReturn);
// One line "Name (ClassName)" + CR LF per component; the indent doubles with each level.
std::string LogComponentHierarchy(TComponent* AComponent, const std::string& AIndent);

// The text of a stored value and its reading (see the header comment).
std::string PointFieldText(const TPoint& AField);
std::string PointFFieldText(const TPointF& AField);
std::string Point3DFieldText(const TPoint3D& AField);
std::string Size3DFieldText(const TSize3D& AField);
std::string Vector3DFieldText(const TVector3D& AField);
std::string QuaternionFieldText(const TQuaternion3D& AField);
std::string AlphaColorFFieldText(const TAlphaColorF& AField);
std::string PlaneFFieldText(const TPlaneF& AField);
void ReadPointText(std::string AText, TPoint& AField);
void ReadPointFText(std::string AText, TPointF& AField);
void ReadPoint3DText(std::string AText, TPoint3D& AField);
void ReadSize3DText(std::string AText, TSize3D& AField);
void ReadVector3DText(std::string AText, TVector3D& AField);
void ReadQuaternionText(std::string AText, TQuaternion3D& AField);
void ReadAlphaColorFText(std::string AText, TAlphaColorF& AField);
void ReadPlaneFText(std::string AText, TPlaneF& AField);

// Stream readers and writers (the component argument is not used).
void ReadPointField(TComponent*, TPoint& AField, TReader* Reader);
void WritePointField(TComponent*, const TPoint& AField, TWriter* Writer);
void ReadPointFField(TComponent*, TPointF& AField, TReader* Reader);
void WritePointFField(TComponent*, const TPointF& AField, TWriter* Writer);
void ReadPoint3DField(TComponent*, TPoint3D& AField, TReader* Reader);
void WritePoint3DField(TComponent*, const TPoint3D& AField, TWriter* Writer);
void ReadSize3DField(TComponent*, TSize3D& AField, TReader* Reader);
void WriteSize3DField(TComponent*, const TSize3D& AField, TWriter* Writer);
void ReadVector3DField(TComponent*, TVector3D& AField, TReader* Reader);
void WriteVector3DField(TComponent*, const TVector3D& AField, TWriter* Writer);
void ReadQuaternionField(TComponent*, TQuaternion3D& AField, TReader* Reader);
void WriteQuaternionField(TComponent*, const TQuaternion3D& AField, TWriter* Writer);
void ReadAlphaColorFField(TComponent*, TAlphaColorF& AField, TReader* Reader);
void WriteAlphaColorFField(TComponent*, const TAlphaColorF& AField, TWriter* Writer);
void ReadPlaneFField(TComponent*, TPlaneF& AField, TReader* Reader);
void WritePlaneFField(TComponent*, const TPlaneF& AField, TWriter* Writer);

void EnableDesigning(TComponent* AComponent);
void DisableDesigning(TComponent* AComponent);

// From AObject's parent (or, without one, its owner when that is a TFwObject) up the
// Parent chain: the first object of AClass or a descendant; AObject itself is never tested.
TFwObject* FindComponentUpwards(TFwObject* AObject, const TClass* AClass);
// The class by its qualified name ("Quorvel.Model.TQuorvelModel"); nil for unknown names.
TFwObject* FindComponentUpwards(TFwObject* AObject, const std::string& AQualifiedName);
TFwObject* FindViewport(TFwObject* AObject);
// The root of the parent tree above AObject; nil without parent.
TFwObject* FindTopOwner(TFwObject* AObject);

}  // namespace quorvel
