#pragma once
// The viewport's frame and drawing statistics and the text of their overlay.
#include <cstdint>
#include <string>

#include "framework/rtl/Stopwatch.h"

namespace quorvel {

struct TRenderingDiagnostics {
  TStopwatch FrameTimeWatch;
  TStopwatch DrawCycleWatch;
  bool Enabled = false;
  int64_t TotalFrames = 0;
  int64_t TotalFrameTimeInMS = 0;
  int64_t TotalFrameTimeInTicks = 0;
  int64_t MeasureFrameCount = 0;
  int64_t MeasureFrameTimeInMS = 0;
  int64_t MeasureFrameTicks = 0;
  int64_t AverageFrameTimeClip = 0;
  float AverageFrameTime = 0;
  float AverageFrameTicks = 0;
  float AverageFramesPerSecond = 0;
  int64_t DrawCycles = 0;
  int64_t DrawCycleTimeInMS = 0;
  int64_t DrawCycleTimeInTicks = 0;
  int64_t MeasureDrawCycles = 0;
  int64_t MeasureDrawCycleTimeInMS = 0;
  int64_t MeasureDrawCycleTicks = 0;
  int64_t AverageDrawCycleClip = 0;
  float AverageDrawCycleTime = 0;
  float AverageDrawCycleTicks = 0;
  int64_t DrawCalls = 0;
  int64_t DrawInstances = 0;
  int64_t TotalVertexCount = 0;
  int64_t TotalIndexCount = 0;
  int32_t RenderPasses = 0;
  int32_t RenderListSize = 0;
  int32_t RenderedObjects = 0;
  double PaintingTime = 0;
  int32_t PaintingCycles = 0;
  double PaintingFPS = 0;
  int32_t DisplayRefreshRate = 0;

  // Everything 0 but the window lengths (30 frames, 1000 paints).
  static TRenderingDiagnostics Create(bool AEnabled);

  // One timer frame measured by FrameTimeWatch. Answers whether the 30-frame window closed
  // (the caller then recomputes RenderPasses and RenderListSize). A window of 0 ms gives 0
  // frames per second.
  bool AccountFrame();
  // One paint measured by DrawCycleWatch.
  void AccountDrawCycle();
  // The 26 lines of the overlay, joined by CR LF.
  std::string OverlayText() const;
};

}  // namespace quorvel
