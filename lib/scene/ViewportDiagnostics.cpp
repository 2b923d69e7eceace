#include "lib/scene/ViewportDiagnostics.h"

#include "framework/rtl/SysUtils.h"

namespace quorvel {

TRenderingDiagnostics TRenderingDiagnostics::Create(bool AEnabled) {
  TRenderingDiagnostics d;
  d.Enabled = AEnabled;
  d.AverageFrameTimeClip = 30;
  d.AverageDrawCycleClip = 1000;
  return d;
}

bool TRenderingDiagnostics::AccountFrame() {
  ++TotalFrames;
  ++MeasureFrameCount;
  const int64_t ms = FrameTimeWatch.GetElapsedMilliseconds(), ticks = FrameTimeWatch.GetElapsedTicks();
  TotalFrameTimeInMS += ms;
  MeasureFrameTimeInMS += ms;
  TotalFrameTimeInTicks += ticks;
  MeasureFrameTicks += ticks;
  if (AverageFrameTimeClip <= 0 || TotalFrames % AverageFrameTimeClip != 0) return false;
  AverageFrameTime = float(double(MeasureFrameTimeInMS) / double(MeasureFrameCount));
  AverageFrameTicks = float(double(MeasureFrameTicks) / double(MeasureFrameCount));
  // Frames shorter than a millisecond sum to 0 ms: no figure rather than a division by zero.
  AverageFramesPerSecond = AverageFrameTime > 0 ? 1000 / AverageFrameTime : 0;
  MeasureFrameCount = 0;
  MeasureFrameTimeInMS = 0;
  MeasureFrameTicks = 0;
  return true;
}

void TRenderingDiagnostics::AccountDrawCycle() {
  ++DrawCycles;
  ++MeasureDrawCycles;
  const int64_t ms = DrawCycleWatch.GetElapsedMilliseconds(), ticks = DrawCycleWatch.GetElapsedTicks();
  DrawCycleTimeInMS += ms;
  MeasureDrawCycleTimeInMS += ms;
  DrawCycleTimeInTicks += ticks;
  MeasureDrawCycleTicks += ticks;
  if (AverageDrawCycleClip <= 0 || DrawCycles % AverageDrawCycleClip != 0) return;
  AverageDrawCycleTime = float(double(MeasureDrawCycleTimeInMS) / double(MeasureDrawCycles));
  AverageDrawCycleTicks = float(double(MeasureDrawCycleTicks) / double(MeasureDrawCycles));
  MeasureDrawCycles = 0;
  MeasureDrawCycleTimeInMS = 0;
  MeasureDrawCycleTicks = 0;
}

std::string TRenderingDiagnostics::OverlayText() const {
  static const char* const kTemplate =
      "TotalFrames: %d\r\nTotalFrameTimeInMS: %d\r\nTotalFrameTimeInTicks: %d\r\n"
      "---------------------------------------\r\n"
      "MeasureFrameCount: %d\r\nAverageFrameTime: %n\r\nAverageFrameTicks: %n\r\nAverageFramesPerSecond: %n\r\n"
      "---------------------------------------\r\n"
      "MeasureDrawCycles: %d\r\nAverageDrawCycleTime: %n\r\nAverageDrawCycleTicks: %n\r\n"
      "---------------------------------------\r\n"
      "DrawCalls: %d\r\nDrawInstances: %d\r\nTotalVertexCount: %d\r\nTotalIndexCount: %d\r\n"
      "---------------------------------------\r\n"
      "RenderPasses: %d\r\nRenderListSize: %d\r\nRenderedObjects: %d\r\n"
      "---------------------------------------\r\n"
      "PaintingTime: %n\r\nPaintingCycles: %d\r\nPaintingFPS: %n\r\nDisplayRefreshRate: %d";
  return Format(kTemplate,
                {TotalFrames, TotalFrameTimeInMS, TotalFrameTimeInTicks, MeasureFrameCount, double(AverageFrameTime),
                 double(AverageFrameTicks), double(AverageFramesPerSecond), MeasureDrawCycles,
                 double(AverageDrawCycleTime), double(AverageDrawCycleTicks), DrawCalls, DrawInstances,
                 TotalVertexCount, TotalIndexCount, RenderPasses, RenderListSize, RenderedObjects, PaintingTime,
                 PaintingCycles, PaintingFPS, DisplayRefreshRate});
}

}  // namespace quorvel
