#pragma once
// Shader programs without a graphics API: TShaderProgram holds the compiled shaders' handles,
// the linked program, the uniform variables found at link time and the program's named
// uniform blocks, each backed by a GPU uniform buffer. Programs are made through the class
// variable ShaderProgramClass, which the OpenGL unit points at its own class:
//
//   TShaderProgram* p = ShaderProgramClass->Create(ctxClass, vs, nullptr, nullptr, nullptr, ps);
//   p->RegisterUniformBuffer("ShaderData", &data, sizeof(data));   // once per name
//   p->Use();
//   p->PushUniformBuffers();                                        // before each draw
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "framework/gui3d/Shader.h"
#include "framework/rtl/Object.h"

namespace quorvel {

class TBufferObject;
class TShaderProgram;

struct TUniformBufferStruct {
  std::string Name;             // block name in GLSL
  int32_t Binding = -1;         // list index at registration; pushes use the current index
  const void* Data = nullptr;   // the caller's CPU copy; not owned, not copied
  int64_t Size = 0;             // bytes
  TBufferObject* Buffer = nullptr;  // owned by the entry
};
// Points at an entry of a program's block list; it stays valid until that entry is removed
// (entries do not move when others are added).
using PUniformBufferStruct = TUniformBufferStruct*;

using TShaderVariables = std::unordered_map<std::string, TContextShaderVariable>;

// The metaclass of the shader programs: the virtual constructors and the class functions.
// The abstract program raises EAbstractError from each.
class TShaderProgramClass : public TClass {
public:
  using TClass::TClass;
  TShaderProgram* Create(const TClass* AContextClass, TContextShader* VS, TContextShader* PS) const;
  virtual TShaderProgram* Create(const TClass* AContextClass, TContextShader* VS, TContextShader* GS,
                                 TContextShader* TSE, TContextShader* TSC, TContextShader* PS) const;
  // Compiles one shader (AType: the GL shader type) and answers its name.
  virtual int32_t BuildShader(int32_t AType, const TContextShaderCode& ACode, bool AIsInDesignTime) const;
  // Makes no program current.
  virtual void ActivateDefault() const;
};

template <class T>
class TShaderProgramClassOf : public TShaderProgramClass {
public:
  using TShaderProgramClass::TShaderProgramClass;
  TShaderProgram* Create(const TClass* AContextClass, TContextShader* VS, TContextShader* GS, TContextShader* TSE,
                         TContextShader* TSC, TContextShader* PS) const override {
    return New<T>(AContextClass, VS, GS, TSE, TSC, PS);
  }
  using TShaderProgramClass::Create;
};

class TShaderProgram : public TObject {
  FW_CLASS_META(TShaderProgram, TObject, TShaderProgramClass)

public:
  // Stores the arguments; the link runs in AfterConstruction. GS, TSE and TSC may be null.
  TShaderProgram(const TClass* AContextClass, TContextShader* VS, TContextShader* PS);
  TShaderProgram(const TClass* AContextClass, TContextShader* VS, TContextShader* GS, TContextShader* TSE,
                 TContextShader* TSC, TContextShader* PS);
  // Frees what BeforeDestruction did not (a program whose link failed in AfterConstruction).
  ~TShaderProgram() override;

  // LinkProgram.
  void AfterConstruction() override;
  // Use (when Available), then ClearUniformBuffers.
  void BeforeDestruction() override;

  const TClass* GetContextClass() const { return FContextClass; }
  uintptr_t GetVS() const { return FVS; }
  uintptr_t GetGS() const { return FGS; }
  uintptr_t GetTSE() const { return FTSE; }
  uintptr_t GetTSC() const { return FTSC; }
  uintptr_t GetPS() const { return FPS; }
  uintptr_t GetProg() const { return FProg; }
  const TShaderVariables& GetVariables() const { return FVariables; }
  // The variable of that name (case as stored), or null.
  const TContextShaderVariable* FindVariable(const std::string& AName) const;

  void LinkProgram(TContextShader* VS, TContextShader* PS);
  virtual void LinkProgram(TContextShader* VS, TContextShader* GS, TContextShader* TSE, TContextShader* TSC,
                           TContextShader* PS) = 0;
  virtual void FreeUniformBuffer(TUniformBufferStruct& AStruct) = 0;
  virtual bool Available() const = 0;
  virtual void Use() = 0;

  // The entry of that name when it exists (unchanged: Data and Size are not updated, nothing
  // is uploaded); otherwise a new entry whose buffer received ASize bytes at AData. Null when
  // the driver offers at most one uniform block per stage. Exceeding a driver limit raises.
  virtual PUniformBufferStruct RegisterUniformBuffer(const std::string& AName, const void* AData, int64_t ASize);
  virtual void UnregisterUniformBufferByName(const std::string& AName);
  // An index outside the list does nothing.
  virtual void UnregisterUniformBufferByIdx(int32_t AIdx);
  virtual void ClearUniformBuffers();
  // Exact (case-sensitive) name; -1 when absent.
  virtual int32_t IndexOfUniformBuffer(const std::string& AName) const;
  virtual PUniformBufferStruct GetUniformBufferByName(const std::string& AName) const;
  // Links every block to the binding point of its list index and uploads its data. After a
  // registration or removal every block is unlinked first, so the binding points follow the
  // new indices.
  virtual void PushUniformBuffers();

  int32_t UniformBufferCount() const;
  bool GetUniformBuffersModified() const { return FUniformBuffersModified; }

protected:
  const TClass* FContextClass;
  uintptr_t FVS = 0, FGS = 0, FTSE = 0, FTSC = 0, FPS = 0;
  uintptr_t FProg = 0;
  TShaderVariables FVariables;

private:
  // The list of blocks; an object, because its monitor guards changes and pushes.
  class TUniformBufferList : public TObject {
  public:
    std::vector<std::unique_ptr<TUniformBufferStruct>> Items;
  };

  TOwned<TUniformBufferList> FUniformBuffers;  // made on first registration
  bool FUniformBuffersModified = false;
  // The shaders handed to the constructor, for the link in AfterConstruction only.
  TContextShader* FLinkShaders[5] = {};
};

// The class programs are made from: TShaderProgram (abstract) until the OpenGL unit starts.
extern const TShaderProgramClass* ShaderProgramClass;
// Installs a class (null: TShaderProgram) and answers the one installed before.
const TShaderProgramClass* SetShaderProgramClass(const TShaderProgramClass* AClass);

// The process-wide cache of linked programs, one per combination of stages (vertex, geometry,
// both tessellation stages and pixel: a pair with a geometry stage is another program than the
// pair alone), and the program made current last. The cache owns its programs: removing one
// frees it. Main thread only.
class TShaderProgramCache {
public:
  // The first cached program with exactly these handles (0: no such stage), or null.
  static TShaderProgram* Find(uintptr_t AVS, uintptr_t APS, uintptr_t AGS = 0, uintptr_t ATSE = 0,
                              uintptr_t ATSC = 0);
  // The program of VS and PS alone (no further stage).
  static TShaderProgram* Find(const TContextShader* VS, const TContextShader* PS);
  // The cached program for these stages, linked and added on a miss (through the installed
  // program class, with AContextClass as its context class). Null without a current GL
  // context or without both shaders compiled. A GL error after the link raises the
  // cannot-activate message (the program stays cached).
  static TShaderProgram* GetOrCreate(const TClass* AContextClass, TContextShader* VS, TContextShader* GS,
                                     TContextShader* TSE, TContextShader* TSC, TContextShader* PS);
  // Makes the program of VS and PS current (GetOrCreate, then Use); without one, none.
  static void DoSetShaders(const TClass* AContextClass, TContextShader* VS, TContextShader* GS,
                           TContextShader* TSE, TContextShader* TSC, TContextShader* PS);
  // Compiles the given shaders that have no handle yet, then DoSetShaders. Nothing unless
  // VS and PS are given.
  static void SetShaders(const TClass* AContextClass, TContextShader* VS, TContextShader* GS, TContextShader* TSE,
                         TContextShader* TSC, TContextShader* PS);
  // Compiles one shader through the installed program class (AType: the GL shader type). A
  // GL error afterwards is reported as a compile error (raised at design time only).
  static int32_t BuildShader(const TClass* AContextClass, int32_t AType, const TContextShaderCode& ACode);
  // Removes (and frees) the program; a program not in the cache is left alone.
  static void Remove(TShaderProgram* AProgram);
  // Removes (and frees) every program linked from the shader with this handle. Called before
  // the shader is deleted: GL hands its name to the next shader compiled, and a lookup by
  // handles would then answer the old program, drawing with another material's code.
  static void RemoveUsing(uintptr_t AHandle);
  // Frees every program and the cache.
  static void Clear();
  static int32_t Count();
  // The program made current by the last DoSetShaders (null after a failed lookup).
  static TShaderProgram* GetCurrent();
  static void SetCurrent(TShaderProgram* AProgram);
};

// Appends copies of AVariables, in order, to ASource's variables.
void AddShaderVariables(TContextShaderSource& ASource, const TContextShaderVariables& AVariables);

}  // namespace quorvel
