#pragma once
// Materials. A TMaterial is applied by the context before a draw and reset after it; a
// TMaterialSource is the component that makes and owns one material and tells its users
// when it changes.
//
// Creation is two-phase: the constructor only stores; the initialisation hook DoInitialize
// runs in AfterConstruction. A descendant whose own set-up must follow the hook (as the
// engine's materials do) overrides AfterConstruction and calls the inherited one first:
//
//   void TMyMaterial::AfterConstruction() {
//     TCustomMaterial::AfterConstruction();   // DoInitialize runs here
//     ...                                     // the steps after the hook
//   }
//
// TMaterialSource likewise creates its material through the virtual CreateMaterial in its
// AfterConstruction.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/classes/FwObject.h"
#include "framework/gui3d/Shader.h"
#include "framework/math/AlphaColor.h"
#include "framework/rtl/Object.h"

namespace quorvel {

class TContext3D;
class TMaterialSource;

class TMaterial : public TObject {
  FW_CLASS(TMaterial, TObject)

public:
  // The matrices a context hands to a material's shaders, by the names GetMaterialProperty
  // reports.
  enum class TProperty : uint8_t { ModelViewProjection = 0, ModelView = 1, ModelViewInverseTranspose = 2 };

  TMaterial() = default;
  // DoInitialize.
  void AfterConstruction() override;

  // DoApply / DoReset with the context about to draw.
  void Apply(TContext3D* AContext);
  void Reset(TContext3D* AContext);
  // The uniform name of a matrix property, or "" when the material does not use it.
  virtual std::string GetMaterialProperty(TProperty AProperty) const;

  // Marks the material modified and tells its source (which tells the source's users).
  virtual void DoChange();
  bool GetModified() const { return FModified; }
  void SetModified(bool Value) { FModified = Value; }
  // The source that owns the material (null for a free-standing one).
  TMaterialSource* GetOwnerSource() const { return FOwnerSource; }

protected:
  virtual void DoInitialize() {}
  virtual void DoApply(TContext3D* /*AContext*/) {}
  virtual void DoReset(TContext3D* /*AContext*/) {}

private:
  friend class TMaterialSource;
  bool FModified = false;
  TMaterialSource* FOwnerSource = nullptr;
};

// A material with a vertex and a pixel shader, which its apply step makes current.
class TCustomMaterial : public TMaterial {
  FW_CLASS(TCustomMaterial, TMaterial)

public:
  // "MVPMatrix" for ModelViewProjection.
  std::string GetMaterialProperty(TProperty AProperty) const override;
  TContextShader* GetVertexShader() const { return FVertexShader; }
  TContextShader* GetPixelShader() const { return FPixelShader; }

protected:
  // AContext->SetShaders(FVertexShader, FPixelShader).
  void DoApply(TContext3D* AContext) override;

  // Owned by TShaderManager.
  TContextShader* FVertexShader = nullptr;
  TContextShader* FPixelShader = nullptr;
};

// One colour, with the context's current opacity. Its GLSL reaches the GPU through the
// context class like any shader.
class TColorMaterial : public TCustomMaterial {
  FW_CLASS(TColorMaterial, TCustomMaterial)

public:
  // The vertex and fragment texts (GLSL 4.30; attribute "a_Position", uniforms "_MVPMatrix"
  // as four rows and "_Color").
  static const char* const VertexShaderText;
  static const char* const PixelShaderText;

  TAlphaColor GetColor() const { return FColor; }
  // A change signals DoChange.
  void SetColor(TAlphaColor Value);

protected:
  void DoInitialize() override;
  // The shaders, then "Color": the colour with its alpha times the context's opacity,
  // premultiplied, because the framework blends premultiplied.
  void DoApply(TContext3D* AContext) override;

private:
  TAlphaColor FColor = claBlue;
};

using TMaterialChangeHandler = std::function<void(TMaterialSource* Sender)>;

class TMaterialSource : public TFwObject {
  FW_CLASS(TMaterialSource, TFwObject)

public:
  explicit TMaterialSource(TComponent* AOwner);
  // Frees the material.
  ~TMaterialSource() override;
  // The material: CreateMaterial.
  void AfterConstruction() override;

  TMaterial* GetMaterial() const { return FMaterial; }
  // The material of a source, null for no source.
  static TMaterial* ValidMaterial(TMaterialSource* ASource) { return ASource ? ASource->FMaterial : nullptr; }

  // Change notification: handlers run when the material changes, in the order added. A
  // handler may remove itself or others. A handler given with its listener component goes
  // when that component is freed, so a freed listener is never called. Users that keep the
  // source register with FreeNotification, which tells them of its removal.
  int32_t AddChangeNotifier(TMaterialChangeHandler AHandler, TComponent* AListener = nullptr);
  void RemoveChangeNotifier(int32_t AId);
  // Runs the handlers; the material's DoChange comes here.
  virtual void DoChange();

  void Notification(TComponent* AComponent, TOperation Operation) override;

protected:
  // A new material for this source (owned by the source).
  virtual TMaterial* CreateMaterial() = 0;
  // Replaces the material (the old one is freed).
  void SetMaterial(TMaterial* AMaterial);

  TMaterial* FMaterial = nullptr;

private:
  struct TNotifier {
    int32_t Id;
    TMaterialChangeHandler Handler;
    TComponent* Listener;
  };
  std::vector<TNotifier> FNotifiers;
  int32_t FNextNotifierId = 1;
};

class TColorMaterialSource : public TMaterialSource {
  FW_CLASS(TColorMaterialSource, TMaterialSource)

public:
  using TMaterialSource::TMaterialSource;

  TAlphaColor GetColor() const;
  void SetColor(TAlphaColor Value);

protected:
  TMaterial* CreateMaterial() override;
};

}  // namespace quorvel
